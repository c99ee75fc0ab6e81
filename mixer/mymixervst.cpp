#include "mymixervst.h"

#include <cstring>
#include <new>

#include "plugin/number_text.h"
#include "plugin/plugin_factory.h"
#include "identity.h"

using namespace tarnvale;

namespace {

// The effect and product name is Tarnvale's name; the vendor string its
// homepage.
constexpr const char* kEffectName = identity::kName;
constexpr const char* kVendorString = identity::kHomepage;
// The vendor version counts the release as major x 100 + minor x 10 +
// patch: 1.0.0 answers 100.
constexpr VstInt32 kVendorVersion =
    identity::kVersionMajor * 100 + identity::kVersionMinor * 10 + identity::kVersionPatch;
constexpr VstInt32 kVstVersion = 2400;
constexpr VstInt32 kUniqueID =
    fourCharCode(identity::kUniqueId[0], identity::kUniqueId[1], identity::kUniqueId[2], identity::kUniqueId[3]);
constexpr VstInt32 kPinFlags = kVstPinIsActive | kVstPinIsStereo;

// The capabilities the mixer has; every other query is refused.
const char* const kCapabilities[] = {"receiveVstEvents", "receiveVstMidiEvent"};

bool writePin(const PinInfo* pins, int count, VstInt32 index, VstPinProperties* properties) {
    if (properties == nullptr || index < 0 || index >= count) return false;
    const char* label = pins[index].label;
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

MyMixerVST::MyMixerVST(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, kNumParams) {
    effectRecord.numInputs = kNumInputs;
    effectRecord.numOutputs = kNumOutputs;
    effectRecord.uniqueID = kUniqueID;
    effectRecord.flags &= ~effFlagsIsSynth;
    effectRecord.flags |= effFlagsCanReplacing;
}

void MyMixerVST::setParameter(VstInt32 index, float value) { engine_.setParameter(index, value); }

float MyMixerVST::getParameter(VstInt32 index) { return engine_.getParameter(index); }

VstInt32 MyMixerVST::processEvents(VstEvents* events) {
    engine_.beginEvents();
    if (events == nullptr || events->numEvents <= 0) return 1;
    VstEvent* const* list = events->events;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        // A record shorter than a MIDI event's would be read past its end.
        if (event == nullptr || event->type != kVstMidiType ||
            event->byteSize < static_cast<VstInt32>(sizeof(VstMidiEvent)))
            continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        if (!engine_.queueMidi(midi->deltaFrames, static_cast<uint8_t>(midi->midiData[0]),
                              static_cast<uint8_t>(midi->midiData[1]), static_cast<uint8_t>(midi->midiData[2])))
            break;  // the queue is full: the rest of the list is not read
    }
    return 1;
}

void MyMixerVST::automate(void* self, int32_t index, float value) {
    static_cast<MyMixerVST*>(self)->setParameterAutomated(index, value);
}

void MyMixerVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    engine_.process(inputs, outputs, sampleFrames, automate, this);
}

void MyMixerVST::getParameterName(VstInt32 index, char* text) {
    if (text == nullptr || !isParameterIndex(index)) return;
    const char* name = kParameters[index].name;
    std::memcpy(text, name, std::strlen(name) + 1);
}

void MyMixerVST::getParameterLabel(VstInt32 index, char* label) {
    if (label == nullptr || index % kNumKinds == 0) return;  // pans have no unit: the buffer stays as it is
    // An index outside 0..67 that is not a multiple of 4 is answered as a level.
    const char* unit = isParameterIndex(index) ? kParameters[index].panel->unit : kChannelLevelScale.unit;
    vst_strncpy(label, unit, kVstMaxParamStrLen);
}

void MyMixerVST::getParameterDisplay(VstInt32 index, char* text) {
    if (text == nullptr || !isParameterIndex(index)) return;
    const double v = engine_.getParameter(index);
    // Pans show -1 (left) to 1 (right), with room for the minus sign so
    // every pan shows three decimals; levels show their gain in percent.
    const VstInt32 limit = kindOf(index) == kPan && v - kPanScale.offset < 0.0 ? 6 : 5;
    float2string(numtext::toFloat(panelValue(index, v)), text, limit);
}

bool MyMixerVST::getInputProperties(VstInt32 index, VstPinProperties* properties) {
    return writePin(kInputPins, kNumInputs, index, properties);
}

bool MyMixerVST::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
    return writePin(kOutputPins, kNumOutputs, index, properties);
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
