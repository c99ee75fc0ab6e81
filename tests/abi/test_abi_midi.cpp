// MIDI control through effProcessEvents and the process call: frame
// accuracy heard in the audio, and the automation the host is told of.
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "abi_fixture.h"
#include "support/reference_mixer.h"

namespace {

using abitest::Abi;
using vsthost::AudioBuffers;

class Midi : public Abi {
protected:
    // Runs one block through plugin and model with the same events and checks
    // every output sample and every automation call.
    void runBlock(const std::vector<reference::Midi>& events, int frames, bool sendEvents = true) {
        if (sendEvents) {
            vsthost::EventList list;
            for (const auto& e : events) list.midi(e.deltaFrames, e.status, e.data1, e.data2);
            plugin->processEvents(list);
            model.queue(events);
        }
        AudioBuffers in(abitest::kInputs, frames), out(abitest::kOutputs, frames), expected(abitest::kOutputs, frames);
        for (int k = 0; k < abitest::kInputs; ++k)
            for (int i = 0; i < frames; ++i) in[k][i] = signal(rng);
        model.process(in.pointers(), expected.pointers(), frames);
        plugin->processReplacing(in.pointers(), out.pointers(), frames);
        for (int k = 0; k < abitest::kOutputs; ++k)
            for (int i = 0; i < frames; ++i)
                ASSERT_NEAR(out[k][i], expected[k][i], 5e-5f + 2e-6f * std::fabs(expected[k][i]))
                    << "output " << k << " frame " << i;
        const auto automation = host.callsWith(audioMasterAutomate);
        ASSERT_EQ(automation.size(), model.automation.size());
        for (size_t i = 0; i < automation.size(); ++i) {
            EXPECT_EQ(automation[i].index, model.automation[i].index) << "call " << i;
            EXPECT_EQ(automation[i].opt, model.automation[i].value) << "call " << i;
            EXPECT_EQ(automation[i].value, 0);
            EXPECT_EQ(automation[i].effect, fx);
        }
        for (int index = 0; index < abitest::kParams; ++index) ASSERT_EQ(plugin->getParameter(index), model.params[index]);
    }

    reference::Mixer model;
    std::mt19937 rng{1865};
    std::uniform_real_distribution<float> signal{-1.0f, 1.0f};
};

reference::Midi cc(int32_t delta, uint8_t controller, uint8_t value, uint8_t channel = 0) {
    return {delta, static_cast<uint8_t>(0xB0 | channel), controller, value};
}

TEST_F(Midi, EveryControllerSetsItsParameterAtItsFrame) {
    for (int controller = 0; controller < 128; ++controller) {
        const auto frame = static_cast<int32_t>((controller * 7) % 48);
        runBlock({cc(frame, static_cast<uint8_t>(controller), static_cast<uint8_t>((controller * 37) % 128),
                     static_cast<uint8_t>(controller % 16))},
                 48);
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(model.automation.size(), 68u);
}

TEST_F(Midi, MasterVolumeChangeIsHeardExactlyFromItsFrame) {
    AudioBuffers in(abitest::kInputs, 64, 0.25f), out(abitest::kOutputs, 64);
    vsthost::EventList list;
    list.controlChange(17, 9, 118, 0);  // Master Volume to 0 at frame 17, MIDI channel 10
    plugin->processEvents(list);
    plugin->processReplacing(in.pointers(), out.pointers(), 64);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(out[0][i], i < 17 ? 4.0f : 0.0f) << "frame " << i;
        EXPECT_EQ(out[6][i], i < 17 ? 0.25f : 0.0f) << "frame " << i;
    }
}

TEST_F(Midi, AutomationReachesTheHostAfterTheParameterHoldsIt) {
    std::vector<float> heldWhenTold;
    host.responder = [&](const vsthost::HostCall& call) -> VstIntPtr {
        if (call.opcode == audioMasterAutomate) heldWhenTold.push_back(plugin->getParameter(call.index));
        return 0;
    };
    vsthost::EventList list;
    list.controlChange(0, 3, 119, 127).controlChange(0, 15, 14, 64).controlChange(2, 0, 37, 1);
    plugin->processEvents(list);
    AudioBuffers in(abitest::kInputs, 8), out(abitest::kOutputs, 8);
    std::thread::id audioThread;
    std::thread([&] {
        audioThread = std::this_thread::get_id();
        plugin->processReplacing(in.pointers(), out.pointers(), 8);
    }).join();
    const auto calls = host.callsWith(audioMasterAutomate);
    ASSERT_EQ(calls.size(), 3u);
    const struct {
        VstInt32 index;
        float value;
    } expected[] = {{0, 1.0f}, {67, 0.5f}, {49, 0.0078125f}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].index, expected[i].index);
        EXPECT_EQ(calls[i].opt, expected[i].value);
        EXPECT_EQ(heldWhenTold[i], expected[i].value);
        EXPECT_EQ(calls[i].thread, audioThread) << "told from the processing thread";
    }
}

// A write made while a block is being processed (here from inside the
// automation callback at frame 10, as another host thread might) is heard
// within 32 frames, and no earlier than the frame it was made at.
TEST_F(Midi, WritesDuringABlockAreHeardWithin32Frames) {
    host.responder = [&](const vsthost::HostCall& call) -> VstIntPtr {
        if (call.opcode == audioMasterAutomate) plugin->setParameter(1, 0.0f);  // Master Volume
        return 0;
    };
    vsthost::EventList list;
    list.controlChange(10, 0, 115, 64);
    plugin->processEvents(list);
    AudioBuffers in(abitest::kInputs, 256, 0.25f), out(abitest::kOutputs, 256);
    plugin->processReplacing(in.pointers(), out.pointers(), 256);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[0][i], 4.0f) << "frame " << i;
    for (int i = 10 + 32; i < 256; ++i) ASSERT_EQ(out[0][i], 0.0f) << "frame " << i;
}

TEST_F(Midi, OneEventPerFrameInListOrder) {
    // Shared offsets spread over following frames; an event further ahead
    // holds back the ones behind it; negative offsets are due at once.
    runBlock({cc(3, 115, 10), cc(3, 114, 20), cc(3, 113, 30)}, 8);
    runBlock({cc(5, 119, 0), cc(0, 118, 127), cc(-3, 117, 64)}, 8);
    runBlock({cc(-100, 110, 1), cc(0, 109, 2)}, 1);  // one frame: one event; the other waits
    const auto calls = host.callsWith(audioMasterAutomate);
    EXPECT_EQ(calls.size(), 7u);
}

TEST_F(Midi, OtherMessagesAndUnmappedControllersChangeNothing) {
    std::vector<reference::Midi> events;
    for (int status : {0x80, 0x90, 0xA0, 0xC0, 0xD0, 0xE0, 0xF0, 0xF8, 0x00, 0x7F})
        events.push_back({0, static_cast<uint8_t>(status), 118, 0});
    for (int controller : {0, 7, 13, 16, 19, 32, 38, 64, 84, 91, 101, 120, 127})
        events.push_back(cc(0, static_cast<uint8_t>(controller), 0));
    runBlock(events, 64);
    EXPECT_TRUE(host.callsWith(audioMasterAutomate).empty());
}

TEST_F(Midi, NonMidiEventsAreSkippedAndTheQueueHolds255) {
    vsthost::EventList list;
    VstEvent sysex{};
    sysex.type = kVstSysExType;
    sysex.byteSize = sizeof sysex;
    list.raw(sysex);
    for (int i = 0; i < 300; ++i) list.controlChange(0, 0, 115, static_cast<uint8_t>(i % 128));
    list.raw(sysex);
    EXPECT_EQ(plugin->processEvents(list), 1);
    AudioBuffers in(abitest::kInputs, 512), out(abitest::kOutputs, 512);
    plugin->processReplacing(in.pointers(), out.pointers(), 512);
    const auto calls = host.callsWith(audioMasterAutomate);
    ASSERT_EQ(calls.size(), 255u);
    EXPECT_EQ(calls.back().opt, 126 / 128.0f);  // event 254 carried value 254 % 128
}

TEST_F(Midi, ValueBytesAboveTheMidiRangeAreMappedUnclamped) {
    runBlock({cc(0, 115, 200)}, 4);
    EXPECT_EQ(plugin->getParameter(4), 200 / 128.0f);
}

TEST_F(Midi, UnappliedEventsCarryOverToTheNextBlock) {
    // Events at frame 70 and beyond a 64-frame block apply in the next one at
    // frame 70 - 64 = 6; a backlog drains one per frame across blocks.
    runBlock({cc(70, 118, 0), cc(60, 119, 127), cc(63, 117, 1), cc(63, 116, 2), cc(63, 115, 3)}, 64);
    EXPECT_EQ(host.callsWith(audioMasterAutomate).size(), 0u) << "held back by the first event";
    runBlock({}, 64, /*sendEvents=*/false);
    ASSERT_EQ(host.callsWith(audioMasterAutomate).size(), 5u);
    runBlock({}, 64, false);  // nothing is applied twice
    EXPECT_EQ(host.callsWith(audioMasterAutomate).size(), 5u);

    host.clearCalls();
    model.automation.clear();
    runBlock({cc(0, 113, 5), cc(0, 112, 6), cc(0, 111, 7)}, 2);
    runBlock({}, 2, false);
    EXPECT_EQ(host.callsWith(audioMasterAutomate).size(), 3u);

    // A new list replaces whatever is still queued.
    host.clearCalls();
    model.automation.clear();
    runBlock({cc(100, 110, 9)}, 16);
    runBlock({cc(0, 109, 9)}, 128);
    ASSERT_EQ(host.callsWith(audioMasterAutomate).size(), 1u);
    EXPECT_EQ(host.callsWith(audioMasterAutomate)[0].index, 10);
}

TEST_F(Midi, RandomEventStreamsMatchTheModel) {
    std::uniform_int_distribution<int> count(0, 40), controller(0, 127), value(0, 127), frames(1, 300),
        status(0, 15);
    for (int block = 0; block < 60; ++block) {
        const int n = frames(rng);
        std::uniform_int_distribution<int> delta(-5, n + 20);
        std::vector<reference::Midi> events;
        const int k = count(rng);
        for (int i = 0; i < k; ++i) {
            const auto kind = static_cast<uint8_t>(status(rng) < 12 ? 0xB0 : 0x90);
            events.push_back({delta(rng), static_cast<uint8_t>(kind | (i % 16)), static_cast<uint8_t>(controller(rng)),
                              static_cast<uint8_t>(value(rng))});
        }
        runBlock(events, n, block % 4 != 3);  // every fourth block gets no event list
        if (HasFatalFailure()) return;
    }
}

}  // namespace
