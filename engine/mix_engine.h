// The mix engine, free of any plug-in format: the parameter store with its
// dirty bits, the MIDI queue and its rules, the gains and the kernels. The
// VST 2.4 and LV2 editions are thin adapters over it.
//
// The road of one block: queue the block's events (beginEvents, queueMidi),
// then process: for each run of frames up to the next due event, apply the
// event (the listener stores it through setParameter and tells its host),
// take the changed parameters into the gains, and let the kernel mix the run.
// Where events fall closer together than a vector of frames, each one
// changes the gains from its own frame's lane on, and the kernel mixes the
// group of frames at once.
#pragma once

#include <cstdint>

#include "midi_queue.h"
#include "mix_kernel.h"
#include "parameter_store.h"
#include "tables.h"

namespace tarnvale {

// Told of each mapped control change the MIDI step takes, on the audio
// thread, at the frame it applies. It must store the value with the engine's
// setParameter before it returns (and may tell its host), so that the frame
// is mixed with it.
using ControlListener = void (*)(void* context, int32_t index, float value);

class MixEngine {
public:
    // [main thread]
    MixEngine();

    // [any thread] no allocation, no locks. Stores the value exactly as given; an
    // index outside 0..67 is ignored.
    void setParameter(int32_t index, float value) {
        if (isParameterIndex(index)) store_.set(index, value);
    }
    // [any thread] no allocation, no locks. 0 for an index outside 0..67.
    float getParameter(int32_t index) const { return isParameterIndex(index) ? store_.get(index) : 0.0f; }

    // [audio thread] no allocation, no locks. A new event list begins: the
    // queue keeps the events of earlier lists that are already due (see
    // MidiQueue::beginList); queueMidi then appends the list's MIDI events,
    // false once the queue is full.
    void beginEvents() { queue_.beginList(); }
    bool queueMidi(int32_t deltaFrames, uint8_t status, uint8_t data1, uint8_t data2) {
        return queue_.append(deltaFrames, status, data1, data2);
    }

    // [audio thread] no allocation, no locks. Mixes one block, applying due
    // events one per frame. Denormals are flushed for the call and the
    // caller's floating-point state is given back. A block of fewer than one
    // frame, or any buffer left out, does nothing.
    void process(const float* const* inputs, float* const* outputs, int32_t frames, ControlListener listener,
                 void* context);

    // [audio thread] Read-only views for adapters and tests.
    const MidiQueue& events() const { return queue_; }
    int32_t lastControlParameter() const { return lastCcParameter_; }
    float lastControlValue() const { return lastCcValue_; }
    const MixGains& currentGains() const { return gains_; }
    // [audio thread] The value the mix uses for a parameter (its default
    // while the stored value is not a finite number).
    float valueInUse(int32_t index) const { return mixed_[index]; }

private:
    // [audio thread] The MIDI step, taking the head of the queue. Answers the
    // parameter a control change set, or -1.
    int32_t applyEvent(ControlListener listener, void* context);
    // [audio thread] Takes one parameter's stored value into `mixed`; false
    // when the gains already use it.
    bool absorb(int index);
    // [audio thread] Recomputes the gains of the strips given (bit s for
    // strip s); within a group, also into the lanes from `lane` (the frame
    // at which they change) on.
    void recompute(uint32_t strips, int lane);
    // [audio thread] Takes every parameter whose dirty bit is set.
    void takeChanges();
    // [audio thread] False when a buffer is missing; else whether outputs
    // overlap inputs. The answer is kept while the host passes the same
    // buffers, so a block usually costs one comparison of the pointers.
    bool checkBuffers(const float* const* inputs, float* const* outputs, int32_t frames, bool& overlap);

    ParameterStore store_;
    MidiQueue queue_;

    // The values the gains were computed from: the store's, with a value
    // that is not finite taken as the parameter's default.
    float mixed_[kNumParams];
    MixGains gains_;
    GainLanes lanes_;
    uint32_t staleLanes_;  // channels whose lanes do not all hold their gains
    const KernelInfo* kernels_;  // the widest this processor runs
    uint32_t floatControl_;      // the floating-point control word of audio calls

    // The buffers of the last full check (frames 0: none yet).
    const float* checkedInputs_[kNumInputs];
    float* checkedOutputs_[kNumOutputs];
    int32_t checkedFrames_;
    bool checkedOverlap_;

    int32_t lastCcParameter_;  // parameter of the last control change taken, or 255
    float lastCcValue_;        // value last sent by a mapped control change
};

}  // namespace tarnvale
