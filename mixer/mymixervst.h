// MyMixerVST: Tarnvale's effect. Sixteen stereo channels mixed into a main
// bus, two send buses and sixteen direct pairs; 68 parameters, driven by the
// host and by MIDI control changes with frame accuracy.
#pragma once

#include <atomic>
#include <cstdint>

#include "plugin/audioeffectx.h"
#include "mix_kernel.h"
#include "tables.h"

// One MIDI event as queued for the coming frames.
struct QueuedMidiEvent {
    VstInt32 deltaFrames;  // frame offset within the block it was queued for
    uint8_t status;        // status byte & 0xF0: the message kind
    uint8_t channel;       // status byte & 0x0F: kept, never used
    uint8_t data1;
    uint8_t data2;
};

class MyMixerVST : public AudioEffectX {
public:
    // main thread.
    explicit MyMixerVST(audioMasterCallback audioMaster);

    // audio thread; no allocation, no locks. Applies due MIDI events one per
    // frame, then mixes.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // any host thread; audio-thread safe.
    void setParameter(VstInt32 index, float value) override;
    // any host thread; audio-thread safe.
    float getParameter(VstInt32 index) override;

    // any host thread: texts for the host's generic panel.
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    // any host thread: pin names and flags.
    bool getInputProperties(VstInt32 index, VstPinProperties* properties) override;
    bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;

    // audio thread; no allocation, no locks. Replaces the MIDI queue.
    VstInt32 processEvents(VstEvents* events) override;

    // any host thread: identity.
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstInt32 canDo(char* text) override;
    VstInt32 getVstVersion() override;

    // Read-only views for tests and tools linking the class directly.
    VstInt32 queuedEventCount() const { return midiEventCount; }
    const QueuedMidiEvent& queuedEvent(int position) const { return midiEvents[position]; }
    VstInt32 lastControlParameter() const { return lastCcParameter; }
    float lastControlValue() const { return lastCcValue; }

private:
    // audio thread: the MIDI step, taking the event at the read position.
    void applyQueuedEvent();
    // audio thread: frame (within the current block) at which the event at
    // the read position falls due.
    int64_t dueFrameOfNextEvent() const;
    // audio thread: brings the gains up to the parameter store, recomputing
    // only the channels whose strip (or the master strip) changed.
    void refreshGains();
    // audio thread: takes one changed value into the gains.
    void takeChange(int index, float value);

    // The MIDI queue, read in list order. Events that a block could not apply
    // stay queued for the next block, their offsets counted from the block
    // they were queued for.
    VstInt32 midiEventCount;  // queued events not yet applied
    QueuedMidiEvent midiEvents[tarnvale::kMaxQueuedEvents];
    VstInt32 midiReadPosition;
    int64_t framesSinceQueued;

    // The parameter store: single 32-bit values, written and read whole from
    // any thread. Every write then advances the generation, which the audio
    // thread checks before each run of frames.
    std::atomic<float> parameters[tarnvale::kNumParams];
    std::atomic<uint32_t> parameterGeneration;

    // The values the gains were computed from, the generation they reflect,
    // and the gains of the current run of frames, effective pans included.
    float mixedParameters[tarnvale::kNumParams];
    uint32_t mixedGeneration;
    tarnvale::MixGains mix;
    const tarnvale::KernelInfo* kernels;  // the widest this processor runs

    VstInt32 lastCcParameter;  // parameter of the last control change taken, or 255
    float lastCcValue;         // value last sent by a mapped control change
};
