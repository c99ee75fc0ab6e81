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
//
// Beyond the 68 parameters the engine has what a face may offer: each
// channel's mute, solo and polarity, smoothing (every change of a gain
// ramps linearly over the smoothing time from the frame it falls at), and
// a peak meter per output pair. It starts with smoothing off and every
// switch off, so a face that offers none of them (the VST 2.4 edition)
// mixes exactly as if they did not exist.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi_queue.h"
#include "mix_kernel.h"
#include "parameter_store.h"
#include "tables.h"

namespace tarnvale {

// [any thread] pure. 20 log10 x, to within 1e-4 dB (minus infinity for 0
// and below, plus infinity for infinity and NaN).
float decibels(float x);

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
    // [any thread] no allocation, no locks. Any control (tables.h: the
    // parameters, the switches, the smoothing in milliseconds), stored as
    // given; an index outside them is ignored.
    void setControl(int32_t index, float value) {
        if (isControlIndex(index)) store_.set(index, value);
    }
    // [any thread] no allocation, no locks. 0 for an index outside the controls.
    float getControl(int32_t index) const { return isControlIndex(index) ? store_.get(index) : 0.0f; }

    // [main thread] The sample rate, which turns the smoothing time into
    // frames and sets the meters' hold and fall (48,000 Hz until told).
    void setSampleRate(double rate);
    // [main thread] The next block takes every change pending at its first
    // frame at once, without a ramp, and ends any ramp in progress: what a
    // face does when it is switched on, so a render with fixed settings
    // mixes them from its first frame.
    void jumpToTargets() { jump_.store(true, std::memory_order_release); }
    // [audio thread] no allocation, no locks. The output pairs whose peaks
    // are measured (bit p: pair p, outputs 2p and 2p + 1); the others cost
    // nothing.
    void setMeteredPairs(uint32_t pairs);
    uint32_t meteredPairs() const { return peaks_.pairs; }
    // [audio thread] A pair's meter reading after the last block, in dBFS
    // (kMeterLaw: floor, ceiling, hold and fall); the floor while it is not
    // measured.
    float meterLevel(int pair) const { return meterDb_[pair]; }

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
    // [audio thread] The value the mix uses for a control (its default
    // while the stored value is not a finite number; a switch's as 0 or 1;
    // the smoothing held to 0 and above).
    float valueInUse(int32_t index) const { return mixed_[index]; }
    // [any thread] no allocation, no locks. The value in use a control will
    // have from the next block on: its stored value as the mix takes it.
    float valueToUse(int32_t index) const { return usedValue(index, store_.get(index)); }
    // [audio thread] no allocation, no locks. Takes the bits of the controls
    // whose value in use changed since the last call; false when none did.
    bool takeChangedValues(uint32_t (&changed)[DirtyBits::kWords]) {
        uint32_t any = 0;
        for (int k = 0; k < DirtyBits::kWords; ++k) {
            changed[k] = changedInUse_[k];
            any |= changedInUse_[k];
            changedInUse_[k] = 0;
        }
        return any != 0;
    }
    // [audio thread] The ramp state, for tests.
    const GainRamp& ramp() const { return ramp_; }

private:
    // [audio thread] The MIDI step, taking the head of the queue. Answers the
    // parameter a control change set, or -1.
    int32_t applyEvent(ControlListener listener, void* context);
    // [any thread] pure. A control's value as the mix uses it: the default
    // for one that is not a finite number, a switch as 0 or 1, the smoothing
    // not below 0.
    static float usedValue(int index, float value);
    // [audio thread] Takes one control's stored value into `mixed`; false
    // when the gains already use it.
    bool absorb(int index);
    // [audio thread] The same for a switch or the smoothing, given the value to use.
    bool absorbSetting(int index, float used);
    // [audio thread] Recomputes the gains of the strips given (bit s for
    // strip s), changing at `lane` frames past the current run's start:
    // each channel whose gains change ramps to them from there (or steps,
    // without smoothing); within a group, the lanes from `lane` on follow.
    void recompute(uint32_t strips, int lane);
    // [audio thread] The part of recompute that starts ramps: each of the
    // channels given ramps from the gains it had at `lane` - 1 to its new
    // ones. Out of line, so that steps (smoothing off) cost no more than it.
    __attribute__((noinline)) void rampTo(uint32_t channels, bool master, int lane);
    // [audio thread] Channel c's gains as its switches make them.
    void switchGains(int c);
    // [audio thread] The gain feed f of channel c had at `lane` frames past
    // the current run's start.
    float gainAt(int f, int c, int lane) const;
    // [any thread] A smoothing time in milliseconds as frames at the current rate.
    int32_t rampFramesFor(float ms) const;
    // [audio thread] `frames` frames were mixed: the ramps move on, and
    // those that ended leave the channels at their targets.
    void advanceRamps(int32_t frames);
    // [audio thread] At the end of a block of `frames`: each measured
    // pair's peak into its reading. A block below the peak being held
    // costs a comparison; decibels are worked out only for a new peak and
    // while the reading falls.
    void updateMeters(int32_t frames);
    // [audio thread] A peak's magnitude bits as a reading in dBFS
    // within the meters' floor and ceiling.
    float meterReading(uint32_t bits) const;
    // [audio thread] Takes every parameter whose dirty bit is set.
    void takeChanges();
    // [audio thread] False when a buffer is missing; else whether outputs
    // overlap inputs. The answer is kept while the host passes the same
    // buffers, so a block usually costs one comparison of the pointers.
    bool checkBuffers(const float* const* inputs, float* const* outputs, int32_t frames, bool& overlap);

    ParameterStore store_;
    MidiQueue queue_;

    // The values the gains were computed from: the store's, with a value
    // that is not finite taken as the control's default.
    float mixed_[kNumControls];
    uint32_t changedInUse_[DirtyBits::kWords];  // controls whose value in use changed, for the face
    MixGains gains_;  // the targets: what every channel mixes with once its ramp ends
    GainLanes lanes_;
    uint32_t staleLanes_;  // channels whose lanes do not all hold their gains

    // The ramps: the kernels' view, and per channel the gains it started
    // from and its length in frames.
    GainRamp ramp_;
    float rampFrom_[kNumFeeds][kNumChannels];
    int32_t rampLength_[kNumChannels];
    int32_t rampFrames_;  // the length of the next ramp (0: smoothing off)
    double sampleRate_;
    std::atomic<bool> jump_;
    bool jumping_;  // taking the changes at once, without ramps
    // The switches in use, bit c for channel c.
    uint32_t muted_, soloed_, inverted_;
    uint32_t switched_;  // channels with any switch on

    // The meters: the kernels' peaks of the block, and per pair the
    // reading, the frames its peak is still held and that peak's bits.
    MeterPeaks peaks_;
    float meterDb_[kNumPairs];
    int32_t meterHold_[kNumPairs];
    uint32_t heldBits_[kNumPairs];
    uint32_t floorBits_;   // magnitudes below this read as the floor
    int32_t holdFrames_;   // a peak's hold in frames
    float fallPerFrame_;   // dB
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
