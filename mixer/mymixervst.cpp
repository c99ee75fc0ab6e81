#include "mymixervst.h"

#include <cstring>
#include <new>

#include "plugin/number_text.h"
#include "plugin/plugin_factory.h"

using namespace tarnvale;

namespace {

const char kEffectName[] = "Tarnvale";
const char kVendorString[] = "https://tarnvale.example.org";
constexpr VstInt32 kVendorVersion = 100;
constexpr VstInt32 kVstVersion = 2400;
constexpr VstInt32 kUniqueID = fourCharCode('1', '8', '6', '5');
constexpr VstInt32 kPinFlags = kVstPinIsActive | kVstPinIsStereo;

// The capabilities the mixer has; every other query is refused.
const char* const kCapabilities[] = {"receiveVstEvents", "receiveVstMidiEvent"};

// A run of frames between gain updates: a parameter written by another host
// thread is heard within this many frames.
constexpr int32_t kMaxRunFrames = 32;

constexpr uint8_t kControlChange = 0xB0;

bool writePin(const char* const* labels, int count, VstInt32 index, VstPinProperties* properties) {
    if (properties == nullptr || index < 0 || index >= count) return false;
    const char* label = labels[index];
    std::memcpy(properties->label, label, std::strlen(label) + 1);
    properties->flags = kPinFlags;
    return true;
}

bool writeText(char* buffer, const char* text, VstInt32 limit) {
    if (buffer == nullptr) return false;
    vst_strncpy(buffer, text, limit);
    return true;
}

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new (std::nothrow) MyMixerVST(audioMaster);
}

MyMixerVST::MyMixerVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParams),
      midiEventCount(0),
      midiEvents{},
      midiReadPosition(0),
      framesSinceQueued(0),
      parameterGeneration(0),
      mixedGeneration(0),
      mix{},
      kernels(&selectedKernel()),
      lastCcParameter(kNoParameter),
      lastCcValue(0.0f) {
    effectRecord.numInputs = kNumInputs;
    effectRecord.numOutputs = kNumOutputs;
    effectRecord.uniqueID = kUniqueID;
    effectRecord.flags &= ~effFlagsIsSynth;
    effectRecord.flags |= effFlagsCanReplacing;
    for (int index = 0; index < kNumParams; ++index) {
        mixedParameters[index] = defaultValue(index);
        parameters[index].store(defaultValue(index), std::memory_order_relaxed);
    }
    computeGains(mixedParameters, mix);
}

void MyMixerVST::setParameter(VstInt32 index, float value) {
    if (!isParameterIndex(index)) return;
    parameters[index].store(value, std::memory_order_relaxed);
    parameterGeneration.fetch_add(1, std::memory_order_release);
}

float MyMixerVST::getParameter(VstInt32 index) {
    return isParameterIndex(index) ? parameters[index].load(std::memory_order_relaxed) : 0.0f;
}

VstInt32 MyMixerVST::processEvents(VstEvents* events) {
    midiEventCount = 0;
    midiReadPosition = 0;
    framesSinceQueued = 0;
    std::memset(midiEvents, 0, sizeof midiEvents);
    if (events == nullptr || events->numEvents <= 0) return 1;
    VstEvent* const* list = events->events;
    for (VstInt32 i = 0; i < events->numEvents && midiEventCount < kMaxQueuedEvents; ++i) {
        const VstEvent* event = list[i];
        if (event == nullptr || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const auto statusByte = static_cast<uint8_t>(midi->midiData[0]);
        QueuedMidiEvent& entry = midiEvents[midiEventCount++];
        entry.deltaFrames = midi->deltaFrames;
        entry.status = statusByte & 0xF0;
        entry.channel = statusByte & 0x0F;
        entry.data1 = static_cast<uint8_t>(midi->midiData[1]);
        entry.data2 = static_cast<uint8_t>(midi->midiData[2]);
    }
    return 1;
}

int64_t MyMixerVST::dueFrameOfNextEvent() const {
    return static_cast<int64_t>(midiEvents[midiReadPosition].deltaFrames) - framesSinceQueued;
}

void MyMixerVST::applyQueuedEvent() {
    const QueuedMidiEvent& event = midiEvents[midiReadPosition];
    --midiEventCount;
    ++midiReadPosition;
    if (event.status != kControlChange) return;
    lastCcParameter = kParameterForController[event.data1];
    if (lastCcParameter == kNoParameter) return;
    lastCcValue = controllerValue(event.data2);
    const uint32_t before = parameterGeneration.load(std::memory_order_relaxed);
    setParameterAutomated(lastCcParameter, lastCcValue);
    // When this was the only write since the gains were made, take it
    // directly instead of rescanning the whole store.
    if (mixedGeneration == before && parameterGeneration.load(std::memory_order_acquire) == before + 1) {
        mixedGeneration = before + 1;
        takeChange(lastCcParameter, lastCcValue);
    }
}

void MyMixerVST::takeChange(int index, float value) {
    mixedParameters[index] = value;
    if (stripOf(index) == 0)
        computeGains(mixedParameters, mix);  // the master strip reaches every channel
    else
        computeChannelGains(mixedParameters, stripOf(index) - 1, mix);
}

void MyMixerVST::refreshGains() {
    const uint32_t generation = parameterGeneration.load(std::memory_order_acquire);
    if (generation == mixedGeneration) return;
    mixedGeneration = generation;
    bool master = false;
    uint32_t changedChannels = 0;
    for (int index = 0; index < kNumParams; ++index) {
        const float value = parameters[index].load(std::memory_order_relaxed);
        if (std::memcmp(&value, &mixedParameters[index], sizeof value) == 0) continue;
        mixedParameters[index] = value;
        if (stripOf(index) == 0)
            master = true;
        else
            changedChannels |= 1u << (stripOf(index) - 1);
    }
    if (master) {
        computeGains(mixedParameters, mix);
        return;
    }
    for (int c = 0; c < kNumChannels; ++c)
        if ((changedChannels & (1u << c)) != 0) computeChannelGains(mixedParameters, c, mix);
}

void MyMixerVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (inputs == nullptr || outputs == nullptr || sampleFrames < 1) return;
    // A host that leaves out a buffer gets nothing written rather than a crash.
    for (int k = 0; k < kNumInputs; ++k)
        if (inputs[k] == nullptr) return;
    for (int k = 0; k < kNumOutputs; ++k)
        if (outputs[k] == nullptr) return;
    const MixKernel kernel = buffersOverlap(inputs, outputs, sampleFrames) ? kernels->inPlace : kernels->separate;
    for (int32_t frame = 0; frame < sampleFrames;) {
        // At most one event per frame, applied before the frame's gains.
        if (midiEventCount > 0 && dueFrameOfNextEvent() <= frame) applyQueuedEvent();

        int64_t end = static_cast<int64_t>(frame) + kMaxRunFrames;
        if (end > sampleFrames) end = sampleFrames;
        if (midiEventCount > 0) {
            int64_t due = dueFrameOfNextEvent();
            if (due <= frame) due = frame + 1;
            if (due < end) end = due;
        }

        refreshGains();
        const auto run = static_cast<int32_t>(end - frame);
        kernel(inputs, outputs, frame, run, mix);
        frame += run;
    }
    framesSinceQueued += sampleFrames;
}

void MyMixerVST::getParameterName(VstInt32 index, char* text) {
    if (text == nullptr || !isParameterIndex(index)) return;
    const char* name = kParameterNames[index];
    std::memcpy(text, name, std::strlen(name) + 1);
}

void MyMixerVST::getParameterLabel(VstInt32 index, char* label) {
    if (label == nullptr || index % kNumKinds == 0) return;  // pans have no unit
    vst_strncpy(label, "%", kVstMaxParamStrLen);
}

void MyMixerVST::getParameterDisplay(VstInt32 index, char* text) {
    if (text == nullptr || !isParameterIndex(index)) return;
    const double v = parameters[index].load(std::memory_order_relaxed);
    double shown;
    VstInt32 limit = 5;
    if (kindOf(index) == kPan) {
        shown = (v - 0.5) * 2.0;  // -1 left, 0 centre, 1 right
        if (v - 0.5 < 0.0) limit = 6;  // room for the minus sign
    } else if (stripOf(index) == 0) {
        shown = v * 400.0;  // master level as gain in percent
    } else {
        shown = v * 128.0;  // channel level as gain in percent
    }
    float2string(numtext::toFloat(shown), text, limit);
}

bool MyMixerVST::getInputProperties(VstInt32 index, VstPinProperties* properties) {
    return writePin(kInputPinLabels, kNumInputs, index, properties);
}

bool MyMixerVST::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
    return writePin(kOutputPinLabels, kNumOutputs, index, properties);
}

bool MyMixerVST::getEffectName(char* name) { return writeText(name, kEffectName, kVstMaxEffectNameLen); }
bool MyMixerVST::getVendorString(char* text) { return writeText(text, kVendorString, kVstMaxVendorStrLen); }
bool MyMixerVST::getProductString(char* text) { return writeText(text, kEffectName, kVstMaxProductStrLen); }
VstInt32 MyMixerVST::getVendorVersion() { return kVendorVersion; }
VstInt32 MyMixerVST::getVstVersion() { return kVstVersion; }

VstInt32 MyMixerVST::canDo(char* text) {
    if (text == nullptr) return -1;
    for (const char* capability : kCapabilities)
        if (std::strcmp(text, capability) == 0) return 1;
    return -1;
}
