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

    // Replaces the queue with the MIDI events of a list (at most 255).
    void queue(const std::vector<Midi>& events);
    // Mixes one block frame by frame. Unapplied events carry over to the next
    // block with their offsets counted from the block they were queued for.
    void process(const float* const* in, float* const* out, int32_t frames);

    // Controller number -> parameter, or -1.
    static int parameterForController(int controller);

private:
    void midiStep(int32_t frame);
    std::vector<Midi> events_;
    size_t next_ = 0;
    int64_t sinceQueued_ = 0;
    int64_t totalFrames_ = 0;
};

}  // namespace reference
