// Every dispatcher opcode as a host sends it.
#include <cstring>
#include <map>
#include <vector>

#include "abi_fixture.h"

namespace {

using abitest::Abi;

// The answer to each opcode sent with index 0, value 0, a zeroed buffer as
// ptr and opt 0. Opcodes not listed answer 0. effClose is tested apart.
const std::map<VstInt32, VstIntPtr> kAnswers = {
    {effIdentify, 0x4E764566},     {effProcessEvents, 1},         {effCanBeAutomated, 1},
    {effGetInputProperties, 1},    {effGetOutputProperties, 1},   {effGetEffectName, 1},
    {effGetVendorString, 1},       {effGetProductString, 1},      {effGetVendorVersion, 100},
    {effCanDo, -1},                {effGetVstVersion, 2400},      {effGetCurrentMidiProgram, -1},
};

TEST_F(Abi, EveryOpcodeFromMinusOneTo80Answers) {
    for (VstInt32 opcode = -1; opcode <= 80; ++opcode) {
        if (opcode == effClose) continue;
        alignas(16) unsigned char buffer[1024] = {};
        const auto it = kAnswers.find(opcode);
        const VstIntPtr expected = it == kAnswers.end() ? 0 : it->second;
        EXPECT_EQ(plugin->dispatch(opcode, 0, 0, buffer, 0.0f), expected) << "opcode " << opcode;
    }
    for (VstInt32 opcode : {-1000, 80, 81, 1000, 0x7FFFFFFF, -0x7FFFFFFF - 1})
        EXPECT_EQ(plugin->dispatch(opcode, 1, 2, nullptr, 3.0f), 0) << "opcode " << opcode;
    EXPECT_EQ(plugin->getParameter(1), 0.25f);
}

TEST_F(Abi, ProgramNumbers) {
    EXPECT_EQ(plugin->dispatch(effGetProgram), 0);
    EXPECT_EQ(plugin->dispatch(effSetProgram, 0, 1), 0);  // one program: 1 and above are ignored
    EXPECT_EQ(plugin->dispatch(effGetProgram), 0);
    EXPECT_EQ(plugin->dispatch(effSetProgram, 0, -1), 0);
    EXPECT_EQ(plugin->dispatch(effGetProgram), -1);
    EXPECT_EQ(plugin->dispatch(effSetProgram, 0, 0), 0);
    EXPECT_EQ(plugin->dispatch(effGetProgram), 0);
    char name[32];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(plugin->dispatch(effGetProgramName, 0, 0, name), 0);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(name[1], 'x');
}

TEST_F(Abi, AutomationCapabilityAndPassThroughAnswers) {
    for (VstInt32 index : {0, 67, 68, -1, 1000}) EXPECT_EQ(plugin->dispatch(effCanBeAutomated, index), 1);
    EXPECT_EQ(plugin->dispatch(effSetTotalSampleToProcess, 0, 12345), 12345);
    EXPECT_EQ(plugin->dispatch(effSetTotalSampleToProcess, 0, -7), -7);
    EXPECT_EQ(plugin->dispatch(effGetPlugCategory), 0);
}

TEST_F(Abi, SpeakerArrangementQueryWritesNullIntoBothPlaces) {
    VstSpeakerArrangement dummy{};
    VstSpeakerArrangement* in = &dummy;
    VstSpeakerArrangement* out = &dummy;
    EXPECT_EQ(plugin->dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out), 0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Abi, ChunksAreNotOffered) {
    unsigned char memory[64];
    std::memset(memory, 0xAB, sizeof memory);
    void* data = memory;
    EXPECT_EQ(plugin->dispatch(effGetChunk, 0, 0, &data), 0);
    EXPECT_EQ(plugin->dispatch(effGetChunk, 1, 0, &data), 0);
    EXPECT_EQ(data, memory);
    EXPECT_EQ(plugin->dispatch(effSetChunk, 0, sizeof memory, memory), 0);
    for (unsigned char byte : memory) EXPECT_EQ(byte, 0xAB);
}

TEST_F(Abi, SwitchingOnAsksForMidiAndSwitchingOffDoesNothing) {
    host.clearCalls();
    EXPECT_EQ(plugin->dispatch(effMainsChanged, 0, 0), 0);
    EXPECT_EQ(host.callCount(), 0u);
    for (VstIntPtr on : {VstIntPtr(1), VstIntPtr(2)}) {
        host.clearCalls();
        EXPECT_EQ(plugin->dispatch(effMainsChanged, 0, on), 0);
        const auto calls = host.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].opcode, audioMasterWantMidi);
        EXPECT_EQ(calls[0].value, 1);
        EXPECT_EQ(calls[0].effect, fx);
    }
}

TEST_F(Abi, EditorOpcodesAnswerZeroAndCallNothing) {
    host.clearCalls();
    char rect[64] = {};
    for (VstInt32 opcode : {13, 14, 15, 16, 17, 18, 19, 20, 21, 59, 60, 61})
        EXPECT_EQ(plugin->dispatch(opcode, 0, 0, rect), 0) << opcode;
    EXPECT_EQ(host.callCount(), 0u);
}

TEST_F(Abi, NullBuffersAreNotWrittenAndAnswerZero) {
    for (VstInt32 opcode : {effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName,
                            effGetInputProperties, effGetOutputProperties, effGetEffectName, effGetVendorString,
                            effGetProductString, effGetChunk, effGetSpeakerArrangement})
        EXPECT_EQ(plugin->dispatch(opcode, 1, 0, nullptr), 0) << opcode;
    EXPECT_EQ(plugin->dispatch(effCanDo, 0, 0, nullptr), -1);
    EXPECT_EQ(plugin->dispatch(effProcessEvents, 0, 0, nullptr), 1);
}

TEST_F(Abi, CloseAnswersOneAndFreesTheEffect) {
    // The leak checker of the sanitizer run sees whether the object was freed.
    EXPECT_EQ(plugin->close(), 1);
    EXPECT_FALSE(plugin->isOpen());
}

}  // namespace
