// A straightforward per-frame model of Tarnvale, written plainly from the
// mixing and MIDI rules: the yardstick the plug-in is compared against.
// Independent of the plug-in's own code on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

constexpr int kChannels = 16;
constexpr int kParams = 68;
constexpr int kInputs = 32;
constexpr int kOutputs = 38;

struct Automation {
    int32_t index;
    float value;
    int64_t frame;  // frame since the model was made at which it was sent
};

struct Midi {
    int32_t deltaFrames;
    uint8_t status, data1, data2;
};

class Mixer {
public:
    Mixer();

    float params[kParams];
    std::vector<Automation> automation;

    // A new list: queued events already due at the coming block's first
    // frame stay, the rest are dropped, then the list's MIDI events follow
    // (at most 255 in all).
    void queue(const std::vector<Midi>& events);
    // Mixes one block frame by frame. Unapplied events carry over to the next
    // block with their offsets counted from the block they were queued for.
    // A parameter that is not a finite number mixes as its default.
    void process(const float* const* in, float* const* out, int32_t frames);
    // Events queued and not yet applied.
    size_t pending() const { return events_.size() - next_; }

    // A parameter's default value.
    static float defaultOf(int index);
    // Controller number -> parameter, or -1.
    static int parameterForController(int controller);

private:
    struct Pending {
        Midi midi;
        int64_t due;  // frame since the model was made at which it falls due
    };
    void midiStep(int32_t frame);
    std::vector<Pending> events_;
    size_t next_ = 0;
    int64_t totalFrames_ = 0;
};

}  // namespace reference
