#include "audioeffect.h"

#include <cmath>
#include <cstring>

#include "number_text.h"

namespace {

AudioEffect* effectOf(AEffect* e) { return static_cast<AudioEffect*>(e->object); }

// The record's six functions. Each finds the effect through the record's
// object field and calls the operation of the same name.
VstIntPtr VSTCALLBACK dispatcherEntry(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                      float opt) {
    AudioEffect* effect = effectOf(e);
    if (opcode == effClose) {
        effect->dispatcher(opcode, index, value, ptr, opt);
        delete effect;
        return 1;
    }
    return effect->dispatcher(opcode, index, value, ptr, opt);
}

void VSTCALLBACK processEntry(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames) {
    effectOf(e)->process(inputs, outputs, sampleFrames);
}

void VSTCALLBACK processReplacingEntry(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames) {
    effectOf(e)->processReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK processDoubleReplacingEntry(AEffect* e, double** inputs, double** outputs, VstInt32 sampleFrames) {
    effectOf(e)->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK setParameterEntry(AEffect* e, VstInt32 index, float value) {
    effectOf(e)->setParameter(index, value);
}

float VSTCALLBACK getParameterEntry(AEffect* e, VstInt32 index) { return effectOf(e)->getParameter(index); }

}  // namespace

void vst_strncpy(char* dst, const char* src, VstInt32 maxLen) {
    if (dst == nullptr || maxLen < 0) return;
    VstInt32 i = 0;
    for (; i < maxLen && src[i] != '\0'; ++i) dst[i] = src[i];
    for (; i <= maxLen; ++i) dst[i] = '\0';
}

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster),
      sampleRate(44100.0f),
      blockSize(1024),
      numPrograms(numPrograms),
      numParams(numParams),
      currentProgram(0) {
    std::memset(&effectRecord, 0, sizeof effectRecord);
    effectRecord.magic = kEffectMagic;
    effectRecord.dispatcher = dispatcherEntry;
    effectRecord.process = processEntry;
    effectRecord.setParameter = setParameterEntry;
    effectRecord.getParameter = getParameterEntry;
    effectRecord.numPrograms = numPrograms;
    effectRecord.numParams = numParams;
    effectRecord.numInputs = 1;
    effectRecord.numOutputs = 2;
    effectRecord.flags = effFlagsCanReplacing;
    effectRecord.ioRatio = 1.0f;
    effectRecord.object = this;
    effectRecord.uniqueID = fourCharCode('N', 'o', 'E', 'f');
    effectRecord.version = 1;
    effectRecord.processReplacing = processReplacingEntry;
    effectRecord.processDoubleReplacing = processDoubleReplacingEntry;
}

AudioEffect::~AudioEffect() = default;  // frees an attached editor

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    switch (opcode) {
    case effOpen: open(); break;
    case effClose: close(); break;
    case effSetProgram:
        if (static_cast<VstInt32>(value) < numPrograms) setProgram(static_cast<VstInt32>(value));
        break;
    case effGetProgram: return getProgram();
    case effSetProgramName: setProgramName(static_cast<char*>(ptr)); break;
    case effGetProgramName: getProgramName(static_cast<char*>(ptr)); break;
    case effGetParamLabel: getParameterLabel(index, static_cast<char*>(ptr)); break;
    case effGetParamDisplay: getParameterDisplay(index, static_cast<char*>(ptr)); break;
    case effGetParamName: getParameterName(index, static_cast<char*>(ptr)); break;
    case effSetSampleRate: setSampleRate(opt); break;
    case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); break;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        break;
    case effIdentify: return fourCharCode('N', 'v', 'E', 'f');
    case effGetChunk: return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk: return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default: break;  // editor opcodes without an editor, unknown opcodes
    }
    return 0;
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::getProgramName(char* name) {
    if (name != nullptr) name[0] = '\0';
}
void AudioEffect::getParameterLabel(VstInt32, char* label) {
    if (label != nullptr) label[0] = '\0';
}
void AudioEffect::getParameterDisplay(VstInt32, char* text) {
    if (text != nullptr) text[0] = '\0';
}
void AudioEffect::getParameterName(VstInt32, char* text) {
    if (text != nullptr) text[0] = '\0';
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return audioMaster != nullptr ? audioMaster(&effectRecord, opcode, index, value, ptr, opt) : 0;
}

VstInt32 AudioEffect::getMasterVersion() {
    const auto answer = static_cast<VstInt32>(callHost(audioMasterVersion));
    return answer != 0 ? answer : 1;  // a host that gives no version counts as version 1
}

VstInt32 AudioEffect::getCurrentUniqueId() {
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() {
    callHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(VstInt32 input) {
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output) {
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen) {
    char full[numtext::kMaxText];
    numtext::formatFloat(value, full);
    vst_strncpy(text, full, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen) {
    char full[numtext::kMaxText];
    numtext::formatInt(value, full);
    vst_strncpy(text, full, maxLen);
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen) {
    if (value <= 0.0f) {
        vst_strncpy(text, "-oo", maxLen);
        return;
    }
    const float decades = numtext::toFloat(std::log10(static_cast<double>(value)));
    float2string(numtext::toFloat(static_cast<double>(decades) * 20.0), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen) {
    const float rate = getSampleRate();
    if (samples == 0.0f) {
        float2string(0.0f, text, maxLen);
        return;
    }
    float2string(numtext::toFloat(static_cast<double>(rate) / static_cast<double>(samples)), text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen) {
    const float rate = getSampleRate();
    float2string(numtext::toFloat(static_cast<double>(samples) * 1000.0 / static_cast<double>(rate)), text, maxLen);
}
