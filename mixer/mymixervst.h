// MyMixerVST: Tarnvale's VST 2.4 effect. Sixteen stereo channels mixed into
// a main bus, two send buses and sixteen direct pairs; 68 parameters, driven
// by the host and by MIDI control changes with frame accuracy. The mixing
// itself is the format-free engine; this class is its VST 2.4 face: texts,
// pins, identity, the event list and the automation callback.
#pragma once

#include <cstdint>

#include "engine/mix_engine.h"
#include "plugin/audioeffectx.h"

class MyMixerVST : public AudioEffectX {
public:
    // [main thread]
    explicit MyMixerVST(audioMasterCallback audioMaster);

    // [audio thread] no allocation, no locks. Applies due MIDI events one per
    // frame, then mixes.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    // [any thread] no allocation, no locks.
    void setParameter(VstInt32 index, float value) override;
    // [any thread] no allocation, no locks.
    float getParameter(VstInt32 index) override;

    // [any thread] Texts for the host's generic panel.
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    // [any thread] Pin names and flags.
    bool getInputProperties(VstInt32 index, VstPinProperties* properties) override;
    bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;

    // [audio thread] no allocation, no locks. Queues the list's MIDI events
    // behind the earlier ones that are already due.
    VstInt32 processEvents(VstEvents* events) override;

    // [any thread] Identity.
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstInt32 canDo(char* text) override;
    VstInt32 getVstVersion() override;

    // [audio thread] Read-only views for tests and tools linking the class directly.
    VstInt32 queuedEventCount() const { return engine_.events().count(); }
    const tarnvale::QueuedMidiEvent& queuedEvent(int position) const { return engine_.events().at(position); }
    VstInt32 lastControlParameter() const { return engine_.lastControlParameter(); }
    float lastControlValue() const { return engine_.lastControlValue(); }

private:
    // [audio thread] A control change from MIDI, stored and told to the host.
    static void automate(void* self, int32_t index, float value);

    tarnvale::MixEngine engine_;
};
