// The base classes' services that nothing in the mixer reaches: host
// wrappers with and without a host, flag and field setters, arrangement
// helpers, the record and the base dispatcher.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "test_effect.h"

using unittest::Call;
using unittest::RecordingHost;
using unittest::TestEffect;

std::vector<Call> RecordingHost::calls;
VstIntPtr RecordingHost::answer = 0;

namespace {

class BaseClasses : public ::testing::Test {
protected:
    void SetUp() override { RecordingHost::reset(); }
    TestEffect effect{RecordingHost::callback};
    TestEffect hostless{nullptr};
};

TEST_F(BaseClasses, RecordAfterBaseConstruction) {
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(e->magic, 0x56737450);
    EXPECT_EQ(e->numPrograms, 1);
    EXPECT_EQ(e->numParams, 4);
    EXPECT_EQ(e->numInputs, 1);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->flags, 0x10);
    EXPECT_EQ(e->ioRatio, 1.0f);
    EXPECT_EQ(e->object, &effect);
    EXPECT_EQ(e->uniqueID, 0x4E6F4566);
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->resvd1, 0);
    EXPECT_EQ(e->user, nullptr);
    for (char byte : e->future) EXPECT_EQ(byte, 0);
    EXPECT_NE(e->dispatcher, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(effect.getEditor(), nullptr);
    EXPECT_TRUE(RecordingHost::calls.empty()) << "constructors do not call the host";
}

// Each wrapper: the host opcode it sends, the arguments, and what it makes of
// the host's answer 0 and 7; and its result without a host.
struct WrapperCase {
    const char* name;
    VstInt32 opcode;
    std::function<VstIntPtr(TestEffect&)> call;
    VstIntPtr resultForZero, resultForSeven, resultWithoutHost;
    VstInt32 index;
    VstIntPtr value;
};

TEST_F(BaseClasses, HostWrappers) {
    char text[8] = "abc";
    auto b = [](bool x) -> VstIntPtr { return x ? 1 : 0; };
    const WrapperCase cases[] = {
        {"getMasterVersion", 1, [](TestEffect& e) { return e.getMasterVersion(); }, 1, 7, 1, 0, 0},
        {"getCurrentUniqueId", 2, [](TestEffect& e) { return e.getCurrentUniqueId(); }, 0, 7, 0, 0, 0},
        {"isInputConnected", 4, [&](TestEffect& e) { return b(e.isInputConnected(5)); }, 1, 0, 1, 5, 0},
        {"isOutputConnected", 4, [&](TestEffect& e) { return b(e.isOutputConnected(6)); }, 1, 0, 1, 6, 1},
        {"beginEdit", 43, [&](TestEffect& e) { return b(e.beginEdit(3)); }, 0, 1, 0, 3, 0},
        {"endEdit", 44, [&](TestEffect& e) { return b(e.endEdit(3)); }, 0, 1, 0, 3, 0},
        {"ioChanged", 13, [&](TestEffect& e) { return b(e.ioChanged()); }, 0, 1, 0, 0, 0},
        {"getInputLatency", 18, [](TestEffect& e) { return e.getInputLatency(); }, 0, 7, 0, 0, 0},
        {"getOutputLatency", 19, [](TestEffect& e) { return e.getOutputLatency(); }, 0, 7, 0, 0, 0},
        {"getTimeInfo", 7, [](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.getTimeInfo(9)); }, 0, 7, 0, 0, 9},
        {"getCurrentProcessLevel", 23, [](TestEffect& e) { return e.getCurrentProcessLevel(); }, 0, 7, 0, 0, 0},
        {"getAutomationState", 24, [](TestEffect& e) { return e.getAutomationState(); }, 0, 7, 0, 0, 0},
        {"getHostVendorString", 32, [&](TestEffect& e) { return b(e.getHostVendorString(text)); }, 0, 1, 0, 0, 0},
        {"getHostProductString", 33, [&](TestEffect& e) { return b(e.getHostProductString(text)); }, 0, 1, 0, 0, 0},
        {"getHostVendorVersion", 34, [](TestEffect& e) { return e.getHostVendorVersion(); }, 0, 7, 0, 0, 0},
        {"hostVendorSpecific", 35, [&](TestEffect& e) { return e.hostVendorSpecific(2, 3, text, 0.5f); }, 0, 7, 0, 2, 3},
        {"canHostDo", 37, [&](TestEffect& e) { return static_cast<VstIntPtr>(e.canHostDo(text)); }, 0, 1, 0, 0, 0},
        {"getHostLanguage", 38, [](TestEffect& e) { return e.getHostLanguage(); }, 0, 7, 0, 0, 0},
        {"getDirectory", 41, [](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.getDirectory()); }, 0, 7, 0, 0, 0},
        {"updateDisplay", 42, [&](TestEffect& e) { return b(e.updateDisplay()); }, 0, 1, 0, 0, 0},
        {"sizeWindow", 15, [&](TestEffect& e) { return b(e.sizeWindow(640, 480)); }, 0, 1, 0, 640, 480},
        {"openFileSelector", 45, [&](TestEffect& e) { return b(e.openFileSelector(text)); }, 0, 1, 0, 0, 0},
        {"closeFileSelector", 46, [&](TestEffect& e) { return b(e.closeFileSelector(text)); }, 0, 1, 0, 0, 0},
        {"offlineRead", 26, [&](TestEffect& e) { return b(e.offlineRead(nullptr, 4, true)); }, 0, 1, 0, 1, 4},
        {"offlineWrite", 27, [&](TestEffect& e) { return b(e.offlineWrite(nullptr, 4)); }, 0, 1, 0, 0, 4},
        {"offlineStart", 25, [&](TestEffect& e) { return b(e.offlineStart(nullptr, 2, 3)); }, 0, 1, 0, 3, 2},
        {"offlineGetCurrentPass", 28, [](TestEffect& e) { return e.offlineGetCurrentPass(); }, 0, 1, 0, 0, 0},
        {"offlineGetCurrentMetaPass", 29, [](TestEffect& e) { return e.offlineGetCurrentMetaPass(); }, 0, 1, 0, 0, 0},
        {"tempoAt", 10, [](TestEffect& e) { return e.tempoAt(99); }, 0, 7, 0, 0, 99},
        {"getNumAutomatableParameters", 11, [](TestEffect& e) { return e.getNumAutomatableParameters(); }, 0, 7, 0, 0, 0},
        {"getParameterQuantization", 12, [](TestEffect& e) { return e.getParameterQuantization(); }, 0, 7, 0, 0, 0},
        {"needIdle", 14, [&](TestEffect& e) { return b(e.needIdle()); }, 0, 1, 0, 0, 0},
        {"getPreviousPlug", 20, [](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.getPreviousPlug(5)); }, 0, 7, 0, 0, 0},
        {"getNextPlug", 21, [](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.getNextPlug(5)); }, 0, 7, 0, 0, 0},
        {"willProcessReplacing", 22, [](TestEffect& e) { return e.willProcessReplacing(); }, 0, 7, 0, 0, 0},
        {"getInputSpeakerArrangement", 49, [](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.getInputSpeakerArrangement()); }, 0, 7, 0, 0, 0},
        {"getOutputSpeakerArrangement", 31, [](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.getOutputSpeakerArrangement()); }, 0, 7, 0, 0, 0},
        {"openWindow", 39, [&](TestEffect& e) { return reinterpret_cast<VstIntPtr>(e.openWindow(text)); }, 0, 7, 0, 0, 0},
        {"closeWindow", 40, [&](TestEffect& e) { return b(e.closeWindow(text)); }, 0, 1, 0, 0, 0},
        {"getChunkFile", 48, [&](TestEffect& e) { return b(e.getChunkFile(text)); }, 0, 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (VstIntPtr reply : {VstIntPtr(0), VstIntPtr(7)}) {
            RecordingHost::reset(reply);
            EXPECT_EQ(c.call(effect), reply == 0 ? c.resultForZero : c.resultForSeven);
            ASSERT_EQ(RecordingHost::calls.size(), 1u);
            const Call& call = RecordingHost::calls[0];
            EXPECT_EQ(call.effect, effect.getAeffect());
            EXPECT_EQ(call.opcode, c.opcode);
            EXPECT_EQ(call.index, c.index);
            EXPECT_EQ(call.value, c.value);
        }
        RecordingHost::reset(7);
        EXPECT_EQ(c.call(hostless), c.resultWithoutHost);
        EXPECT_TRUE(RecordingHost::calls.empty());
    }
}

TEST_F(BaseClasses, WrappersPassPointersAndOptThrough) {
    char text[4] = "x";
    RecordingHost::reset(1);
    effect.hostVendorSpecific(1, 2, text, 0.25f);
    effect.setOutputSamplerate(96000.0f);
    effect.masterIdle();
    effect.wantEvents(1);
    ASSERT_EQ(RecordingHost::calls.size(), 4u);
    EXPECT_EQ(RecordingHost::calls[0].ptr, text);
    EXPECT_EQ(RecordingHost::calls[0].opt, 0.25f);
    EXPECT_EQ(RecordingHost::calls[1].opcode, audioMasterSetOutputSampleRate);
    EXPECT_EQ(RecordingHost::calls[1].opt, 96000.0f);
    EXPECT_EQ(RecordingHost::calls[2].opcode, audioMasterIdle);
    EXPECT_EQ(RecordingHost::calls[3].opcode, audioMasterWantMidi);
    EXPECT_EQ(RecordingHost::calls[3].value, 1);
}

TEST_F(BaseClasses, NullSelectorsAndPathsAreRefusedWithoutAHostCall) {
    RecordingHost::reset(1);
    EXPECT_FALSE(effect.openFileSelector(nullptr));
    EXPECT_FALSE(effect.closeFileSelector(nullptr));
    EXPECT_FALSE(effect.getChunkFile(nullptr));
    EXPECT_TRUE(RecordingHost::calls.empty());
}

TEST_F(BaseClasses, SampleRateAndBlockSizeUpdates) {
    RecordingHost::reset(48000);
    EXPECT_EQ(effect.updateSampleRate(), 48000.0f);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    for (VstIntPtr bad : {VstIntPtr(0), VstIntPtr(-1)}) {
        RecordingHost::reset(bad);
        EXPECT_EQ(effect.updateSampleRate(), 48000.0f);
        EXPECT_EQ(effect.updateBlockSize(), 1024);
    }
    RecordingHost::reset(256);
    EXPECT_EQ(effect.updateBlockSize(), 256);
    EXPECT_EQ(RecordingHost::calls.back().opcode, audioMasterGetBlockSize);
    EXPECT_EQ(hostless.updateSampleRate(), 44100.0f);
    EXPECT_EQ(hostless.updateBlockSize(), 1024);
    effect.setBlockSizeAndSampleRate(64, 22050.0f);
    EXPECT_EQ(effect.getBlockSize(), 64);
    EXPECT_EQ(effect.getSampleRate(), 22050.0f);
}

TEST_F(BaseClasses, DispatcherSetsSampleRateAndBlockSizeButNotBothAtOnce) {
    EXPECT_EQ(effect.dispatcher(effSetSampleRate, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(effect.dispatcher(effSetBlockSize, 0, 256, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effSetBlockSizeAndSampleRate, 0, 64, nullptr, 8000.0f), 0);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_EQ(effect.getBlockSize(), 256);
}

TEST_F(BaseClasses, SetParameterAutomatedStoresBeforeTellingTheHost) {
    float seenByHost = -1.0f;
    static TestEffect* current = nullptr;
    static float* seen = nullptr;
    current = &effect;
    seen = &seenByHost;
    effect.audioMaster = [](AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) -> VstIntPtr {
        if (opcode == audioMasterAutomate && index == 3) {
            *seen = current->getParameter(3);
            EXPECT_EQ(opt, 0.5f);
        }
        return 0;
    };
    effect.setParameterAutomated(3, 0.5f);
    EXPECT_EQ(seenByHost, 0.5f);

    effect.audioMaster = RecordingHost::callback;
    RecordingHost::reset();
    effect.setParameterAutomated(68, 0.75f);  // ignored by setParameter, still reported
    ASSERT_EQ(RecordingHost::calls.size(), 1u);
    EXPECT_EQ(RecordingHost::calls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(RecordingHost::calls[0].index, 68);
    EXPECT_EQ(RecordingHost::calls[0].value, 0);
    EXPECT_EQ(RecordingHost::calls[0].opt, 0.75f);

    hostless.setParameterAutomated(1, 0.25f);
    EXPECT_EQ(hostless.getParameter(1), 0.25f);
}

TEST_F(BaseClasses, FlagSettersChangeOneBitEach) {
    const struct {
        std::function<void(TestEffect&, bool)> set;
        VstInt32 bit;
    } cases[] = {
        {[](TestEffect& e, bool s) { e.canProcessReplacing(s); }, 0x10},
        {[](TestEffect& e, bool s) { e.canDoubleReplacing(s); }, 0x1000},
        {[](TestEffect& e, bool s) { e.programsAreChunks(s); }, 0x20},
        {[](TestEffect& e, bool s) { e.hasVu(s); }, 0x4},
        {[](TestEffect& e, bool s) { e.hasClip(s); }, 0x2},
        {[](TestEffect& e, bool s) { e.canMono(s); }, 0x8},
        {[](TestEffect& e, bool s) { e.isSynth(s); }, 0x100},
        {[](TestEffect& e, bool s) { e.noTail(s); }, 0x200},
        {[](TestEffect& e, bool s) { e.wantAsyncOperation(s); }, 0x400},
        {[](TestEffect& e, bool s) { e.hasExternalBuffer(s); }, 0x800},
    };
    for (const auto& c : cases) {
        c.set(effect, true);
        EXPECT_EQ(effect.flags(), 0x10 | c.bit);
        c.set(effect, false);
        EXPECT_EQ(effect.flags(), 0x10 & ~c.bit);
        effect.canProcessReplacing(true);
    }
    EXPECT_TRUE(RecordingHost::calls.empty());
}

TEST_F(BaseClasses, FieldSetters) {
    effect.setInitialDelay(128);
    effect.setRealtimeQualities(3);
    effect.setOfflineQualities(4);
    effect.setUniqueID(0x12345678);
    effect.setNumInputs(6);
    effect.setNumOutputs(8);
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(e->initialDelay, 128);
    EXPECT_EQ(e->realQualities, 3);
    EXPECT_EQ(e->offQualities, 4);
    EXPECT_EQ(e->uniqueID, 0x12345678);
    EXPECT_EQ(e->numInputs, 6);
    EXPECT_EQ(e->numOutputs, 8);
    effect.setProgram(-7);  // called directly, any number is stored
    EXPECT_EQ(effect.getProgram(), -7);
}

TEST_F(BaseClasses, ResumeAsksForMidiWhenSynthOrMidiCapable) {
    const struct {
        bool synth;
        VstInt32 canDo;
        size_t calls;
    } cases[] = {{false, 1, 1}, {true, -1, 1}, {false, -1, 0}, {false, 0, 0}, {false, 2, 0}};
    for (const auto& c : cases) {
        RecordingHost::reset();
        effect.isSynth(c.synth);
        effect.canDoAnswer = c.canDo;
        effect.dispatcher(effMainsChanged, 0, 1, nullptr, 0.0f);
        ASSERT_EQ(RecordingHost::calls.size(), c.calls);
        if (c.calls == 1) {
            EXPECT_EQ(RecordingHost::calls[0].opcode, audioMasterWantMidi);
            EXPECT_EQ(RecordingHost::calls[0].value, 1);
        }
        RecordingHost::reset();
        effect.dispatcher(effMainsChanged, 0, 0, nullptr, 0.0f);
        EXPECT_TRUE(RecordingHost::calls.empty());
    }
}

TEST_F(BaseClasses, PlugCategoryFollowsTheSynthFlag) {
    EXPECT_EQ(effect.getPlugCategory(), 0);
    effect.isSynth(true);
    EXPECT_EQ(effect.getPlugCategory(), 2);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), 2);
}

TEST_F(BaseClasses, AllocateAndDeallocateArrangement) {
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&a, 3));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->numChannels, 3);
    EXPECT_EQ(a->type, 0);
    for (int i = 0; i < 3; ++i) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(speakerAt(a, i));
        for (size_t k = 0; k < sizeof(VstSpeakerProperties); ++k) ASSERT_EQ(bytes[k], 0);
    }
    ASSERT_TRUE(effect.allocateArrangement(&a, 0));  // releases the old record first
    EXPECT_EQ(a->numChannels, 0);
    EXPECT_FALSE(effect.allocateArrangement(&a, -1));
    EXPECT_EQ(a, nullptr);
    EXPECT_TRUE(effect.deallocateArrangement(&a));
    EXPECT_TRUE(effect.allocateArrangement(&a, 2));
    EXPECT_TRUE(effect.deallocateArrangement(&a));
    EXPECT_EQ(a, nullptr);
    EXPECT_TRUE(effect.deallocateArrangement(&a));
}

TEST_F(BaseClasses, CopySpeaker) {
    VstSpeakerProperties from{}, to{};
    std::memset(&to, 0x7F, sizeof to);
    from.azimuth = 0.5f;
    from.elevation = -0.25f;
    from.radius = 2.0f;
    from.reserved = 3.0f;
    from.type = 4;
    std::memset(from.name, 'n', sizeof from.name);  // 64 characters, no terminator
    std::memset(from.future, 0x11, sizeof from.future);
    EXPECT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_EQ(std::string(to.name), std::string(63, 'n'));
    EXPECT_EQ(to.name[63], '\0');
    EXPECT_EQ(to.azimuth, 0.5f);
    EXPECT_EQ(to.elevation, -0.25f);
    EXPECT_EQ(to.radius, 2.0f);
    EXPECT_EQ(to.reserved, 3.0f);
    EXPECT_EQ(to.type, 4);
    EXPECT_EQ(std::memcmp(to.future, from.future, sizeof to.future), 0);

    std::strcpy(from.name, "Left");
    EXPECT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_EQ(std::string(to.name), "Left");
    for (int i = 4; i < 64; ++i) EXPECT_EQ(to.name[i], '\0');

    VstSpeakerProperties untouched;
    std::memset(&untouched, 0x22, sizeof untouched);
    EXPECT_FALSE(effect.copySpeaker(&untouched, nullptr));
    EXPECT_FALSE(effect.copySpeaker(nullptr, &from));
    EXPECT_EQ(untouched.type, 0x22222222);
}

TEST_F(BaseClasses, MatchArrangement) {
    VstSpeakerArrangement* from = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&from, 3));
    from->type = 5;
    for (int i = 0; i < 3; ++i) {
        speakerAt(from, i)->azimuth = static_cast<float>(i);
        speakerAt(from, i)->type = 10 + i;
        std::snprintf(speakerAt(from, i)->name, 64, "speaker %d", i);
    }
    VstSpeakerArrangement* to = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&to, 7));  // the old record is released
    ASSERT_TRUE(effect.matchArrangement(&to, from));
    EXPECT_EQ(to->type, 5);
    EXPECT_EQ(to->numChannels, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(speakerAt(to, i)->azimuth, static_cast<float>(i));
        EXPECT_EQ(speakerAt(to, i)->type, 10 + i);
        EXPECT_EQ(std::string(speakerAt(to, i)->name), "speaker " + std::to_string(i));
    }
    EXPECT_FALSE(effect.matchArrangement(&to, nullptr));
    EXPECT_TRUE(effect.deallocateArrangement(&to));
    EXPECT_TRUE(effect.deallocateArrangement(&from));
}

TEST_F(BaseClasses, BaseDefaultsWriteEmptyTexts) {
    char text[16];
    for (auto get : {&AudioEffect::getProgramName}) {
        std::memset(text, 'x', sizeof text);
        (effect.*get)(text);
        EXPECT_EQ(text[0], '\0');
        EXPECT_EQ(text[1], 'x');
    }
    for (auto get : {&AudioEffect::getParameterLabel, &AudioEffect::getParameterDisplay,
                     &AudioEffect::getParameterName}) {
        std::memset(text, 'x', sizeof text);
        (effect.*get)(0, text);
        EXPECT_EQ(text[0], '\0');
        EXPECT_EQ(text[1], 'x');
    }
}

}  // namespace
