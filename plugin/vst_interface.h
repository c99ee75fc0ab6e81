// The VST 2.4 effect interface as hosts and effects share it: the effect
// record, the event records, pin and speaker records, and every opcode and
// flag number. Written from the published layouts; the static_asserts at the
// end pin each structure to its offsets so that a wrong layout cannot build.
#pragma once

#include <cstddef>
#include <cstdint>

using VstInt16 = int16_t;
using VstInt32 = int32_t;
using VstInt64 = int64_t;
using VstIntPtr = intptr_t;

#if defined(_WIN32)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

struct AEffect;

// The host's callback: (record, opcode, index, value, ptr, opt) -> answer.
using audioMasterCallback = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                     VstIntPtr value, void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                       VstIntPtr value, void* ptr, float opt);
using AEffectProcessProc = void(VSTCALLBACK*)(AEffect* effect, float** inputs, float** outputs,
                                               VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void(VSTCALLBACK*)(AEffect* effect, double** inputs, double** outputs,
                                                     VstInt32 sampleFrames);
using AEffectSetParameterProc = void(VSTCALLBACK*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProc = float(VSTCALLBACK*)(AEffect* effect, VstInt32 index);

// Four-character constants: first character in the most significant byte.
constexpr VstInt32 fourCharCode(char a, char b, char c, char d) {
    return static_cast<VstInt32>((static_cast<uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                 (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                 (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                 static_cast<uint32_t>(static_cast<unsigned char>(d)));
}

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');

// The effect record. The host reads and calls it directly.
struct AEffect {
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    float ioRatio;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// Record flag bits.
enum VstAEffectFlags : VstInt32 {
    effFlagsHasEditor = 1 << 0,
    effFlagsHasClip = 1 << 1,
    effFlagsHasVu = 1 << 2,
    effFlagsCanMono = 1 << 3,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsExtIsAsync = 1 << 10,
    effFlagsExtHasBuffer = 1 << 11,
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Opcodes the host sends through the record's dispatcher.
enum AEffectOpcodes : VstInt32 {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditDraw = 16,
    effEditMouse = 17,
    effEditKey = 18,
    effEditIdle = 19,
    effEditTop = 20,
    effEditSleep = 21,
    effIdentify = 22,
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetNumProgramCategories = 28,
    effGetProgramNameIndexed = 29,
    effCopyProgram = 30,
    effConnectInput = 31,
    effConnectOutput = 32,
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effGetCurrentPosition = 36,
    effGetDestinationBuffer = 37,
    effOfflineNotify = 38,
    effOfflinePrepare = 39,
    effOfflineRun = 40,
    effProcessVarIo = 41,
    effSetSpeakerArrangement = 42,
    effSetBlockSizeAndSampleRate = 43,
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetErrorText = 46,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effIdle = 53,
    effGetIcon = 54,
    effSetViewPosition = 55,
    effGetParameterProperties = 56,
    effKeysRequired = 57,
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetMidiProgramName = 62,
    effGetCurrentMidiProgram = 63,
    effGetMidiProgramCategory = 64,
    effHasMidiProgramsChanged = 65,
    effGetMidiKeyName = 66,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
    effGetSpeakerArrangement = 69,
    effShellGetNextPlugin = 70,
    effStartProcess = 71,
    effStopProcess = 72,
    effSetTotalSampleToProcess = 73,
    effSetPanLaw = 74,
    effBeginLoadBank = 75,
    effBeginLoadProgram = 76,
    effSetProcessPrecision = 77,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79,
};

// Opcodes the effect sends through the host callback.
enum AudioMasterOpcodes : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,
    audioMasterWantMidi = 6,
    audioMasterGetTime = 7,
    audioMasterTempoAt = 10,
    audioMasterGetNumAutomatableParameters = 11,
    audioMasterGetParameterQuantization = 12,
    audioMasterIOChanged = 13,
    audioMasterNeedIdle = 14,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetInputLatency = 18,
    audioMasterGetOutputLatency = 19,
    audioMasterGetPreviousPlug = 20,
    audioMasterGetNextPlug = 21,
    audioMasterWillReplaceOrAccumulate = 22,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetAutomationState = 24,
    audioMasterOfflineStart = 25,
    audioMasterOfflineRead = 26,
    audioMasterOfflineWrite = 27,
    audioMasterOfflineGetCurrentPass = 28,
    audioMasterOfflineGetCurrentMetaPass = 29,
    audioMasterSetOutputSampleRate = 30,
    audioMasterGetOutputSpeakerArrangement = 31,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterVendorSpecific = 35,
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterOpenWindow = 39,
    audioMasterCloseWindow = 40,
    audioMasterGetDirectory = 41,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
    audioMasterOpenFileSelector = 45,
    audioMasterCloseFileSelector = 46,
    audioMasterGetChunkFile = 48,
    audioMasterGetInputSpeakerArrangement = 49,
};

// Text limits of the interface.
enum VstStringConstants : VstInt32 {
    kVstMaxProgNameLen = 24,
    kVstMaxParamStrLen = 8,
    kVstMaxVendorStrLen = 64,
    kVstMaxProductStrLen = 64,
    kVstMaxEffectNameLen = 32,
    kVstMaxLabelLen = 64,
    kVstMaxShortLabelLen = 8,
};

// Plug-in categories answered to effGetPlugCategory.
enum VstPlugCategory : VstInt32 {
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2,
};

// Event types in a VstEvents list.
enum VstEventTypes : VstInt32 {
    kVstMidiType = 1,
    kVstSysExType = 6,
};

// A generic event: every event record begins like this.
struct VstEvent {
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    char data[16];
};

struct VstMidiEvent {
    VstInt32 type;         // kVstMidiType
    VstInt32 byteSize;     // sizeof(VstMidiEvent)
    VstInt32 deltaFrames;  // frame offset within the block
    VstInt32 flags;
    VstInt32 noteLength;
    VstInt32 noteOffset;
    char midiData[4];  // status, data 1, data 2, unused
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

// The host's list of events for the coming block. The events array is
// declared with two entries; hosts allocate as many as numEvents says.
struct VstEvents {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[2];
};

enum VstPinPropertiesFlags : VstInt32 {
    kVstPinIsActive = 1 << 0,
    kVstPinIsStereo = 1 << 1,
    kVstPinUseSpeaker = 1 << 2,
};

struct VstPinProperties {
    char label[kVstMaxLabelLen];
    VstInt32 flags;
    VstInt32 arrangementType;
    char shortLabel[kVstMaxShortLabelLen];
    char future[48];
};

struct VstSpeakerProperties {
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    VstInt32 type;
    char future[28];
};

// A speaker arrangement: the speakers array holds numChannels entries. It is
// declared with eight, the common case; records made by allocateArrangement
// are exactly as long as their channel count needs.
struct VstSpeakerArrangement {
    VstInt32 type;
    VstInt32 numChannels;
    VstSpeakerProperties speakers[8];
};

// Entry i of an arrangement's speaker array, also past the declared eight.
inline VstSpeakerProperties* speakerAt(VstSpeakerArrangement* arrangement, VstInt32 i) {
    return reinterpret_cast<VstSpeakerProperties*>(reinterpret_cast<char*>(arrangement) +
                                                   offsetof(VstSpeakerArrangement, speakers)) +
           i;
}

struct VstTimeInfo;  // the host's transport record; the effect only passes its address on

// Layouts: every field's offset and size. Pointer-sized fields (P) are 4
// bytes on 32-bit targets, where the offsets are the published ones, and 8
// bytes on 64-bit targets, where the same order follows natural alignment.
#define VST_FIELD(S, f, offset, size) \
    static_assert(offsetof(S, f) == (offset) && sizeof(S::f) == (size), "layout of " #S "::" #f)

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE float and double required");

#if UINTPTR_MAX == 0xFFFFFFFFu
#define VST_P 4
#define VST_AT(offset32, offset64) (offset32)
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define VST_P 8
#define VST_AT(offset32, offset64) (offset64)
#else
#error "unsupported pointer width"
#endif
static_assert(sizeof(void*) == VST_P && sizeof(VstIntPtr) == VST_P, "pointer width");

VST_FIELD(AEffect, magic, VST_AT(0, 0), 4);
VST_FIELD(AEffect, dispatcher, VST_AT(4, 8), VST_P);
VST_FIELD(AEffect, process, VST_AT(8, 16), VST_P);
VST_FIELD(AEffect, setParameter, VST_AT(12, 24), VST_P);
VST_FIELD(AEffect, getParameter, VST_AT(16, 32), VST_P);
VST_FIELD(AEffect, numPrograms, VST_AT(20, 40), 4);
VST_FIELD(AEffect, numParams, VST_AT(24, 44), 4);
VST_FIELD(AEffect, numInputs, VST_AT(28, 48), 4);
VST_FIELD(AEffect, numOutputs, VST_AT(32, 52), 4);
VST_FIELD(AEffect, flags, VST_AT(36, 56), 4);
VST_FIELD(AEffect, resvd1, VST_AT(40, 64), VST_P);
VST_FIELD(AEffect, resvd2, VST_AT(44, 72), VST_P);
VST_FIELD(AEffect, initialDelay, VST_AT(48, 80), 4);
VST_FIELD(AEffect, realQualities, VST_AT(52, 84), 4);
VST_FIELD(AEffect, offQualities, VST_AT(56, 88), 4);
VST_FIELD(AEffect, ioRatio, VST_AT(60, 92), 4);
VST_FIELD(AEffect, object, VST_AT(64, 96), VST_P);
VST_FIELD(AEffect, user, VST_AT(68, 104), VST_P);
VST_FIELD(AEffect, uniqueID, VST_AT(72, 112), 4);
VST_FIELD(AEffect, version, VST_AT(76, 116), 4);
VST_FIELD(AEffect, processReplacing, VST_AT(80, 120), VST_P);
VST_FIELD(AEffect, processDoubleReplacing, VST_AT(84, 128), VST_P);
VST_FIELD(AEffect, future, VST_AT(88, 136), 56);
static_assert(sizeof(AEffect) == VST_AT(144, 192), "size of AEffect");

VST_FIELD(VstEvent, type, 0, 4);
VST_FIELD(VstEvent, byteSize, 4, 4);
VST_FIELD(VstEvent, deltaFrames, 8, 4);
VST_FIELD(VstEvent, flags, 12, 4);
VST_FIELD(VstEvent, data, 16, 16);
static_assert(sizeof(VstEvent) == 32, "size of VstEvent");

VST_FIELD(VstMidiEvent, type, 0, 4);
VST_FIELD(VstMidiEvent, byteSize, 4, 4);
VST_FIELD(VstMidiEvent, deltaFrames, 8, 4);
VST_FIELD(VstMidiEvent, flags, 12, 4);
VST_FIELD(VstMidiEvent, noteLength, 16, 4);
VST_FIELD(VstMidiEvent, noteOffset, 20, 4);
VST_FIELD(VstMidiEvent, midiData, 24, 4);
VST_FIELD(VstMidiEvent, detune, 28, 1);
VST_FIELD(VstMidiEvent, noteOffVelocity, 29, 1);
VST_FIELD(VstMidiEvent, reserved1, 30, 1);
VST_FIELD(VstMidiEvent, reserved2, 31, 1);
static_assert(sizeof(VstMidiEvent) == 32, "size of VstMidiEvent");

VST_FIELD(VstEvents, numEvents, 0, 4);
VST_FIELD(VstEvents, reserved, VST_AT(4, 8), VST_P);
VST_FIELD(VstEvents, events, VST_AT(8, 16), 2 * VST_P);

VST_FIELD(VstPinProperties, label, 0, 64);
VST_FIELD(VstPinProperties, flags, 64, 4);
VST_FIELD(VstPinProperties, arrangementType, 68, 4);
VST_FIELD(VstPinProperties, shortLabel, 72, 8);
VST_FIELD(VstPinProperties, future, 80, 48);
static_assert(sizeof(VstPinProperties) == 128, "size of VstPinProperties");

VST_FIELD(VstSpeakerProperties, azimuth, 0, 4);
VST_FIELD(VstSpeakerProperties, elevation, 4, 4);
VST_FIELD(VstSpeakerProperties, radius, 8, 4);
VST_FIELD(VstSpeakerProperties, reserved, 12, 4);
VST_FIELD(VstSpeakerProperties, name, 16, 64);
VST_FIELD(VstSpeakerProperties, type, 80, 4);
VST_FIELD(VstSpeakerProperties, future, 84, 28);
static_assert(sizeof(VstSpeakerProperties) == 112, "size of VstSpeakerProperties");

VST_FIELD(VstSpeakerArrangement, type, 0, 4);
VST_FIELD(VstSpeakerArrangement, numChannels, 4, 4);
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8, "layout of VstSpeakerArrangement::speakers");

#undef VST_FIELD
#undef VST_AT
#undef VST_P
