// MIDI control through effProcessEvents and the process call: frame
// accuracy heard in the audio, and the automation the host is told of.
#include <cmath>
#include <cstring>
#include <memory>
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

// A control change whose data bytes are not 7-bit is not valid MIDI: it is
// taken at its frame without effect (the event behind it waits a frame) and
// nothing outside the controller map's values reaches the host.
TEST_F(Midi, DataBytesAboveTheMidiRangeAreTakenWithoutEffect) {
    const std::vector<std::pair<uint8_t, uint8_t>> invalid = {{114, 0xFF}, {114, 0x80}, {114, 200}, {0x80 | 114, 64},
                                                              {0xFF, 0xFF}, {0xF2, 127}};
    for (const auto& [controller, value] : invalid) {
        runBlock({cc(2, controller, value), cc(2, 113, 64)}, 8);
        if (HasFatalFailure()) return;
        const auto calls = host.callsWith(audioMasterAutomate);
        ASSERT_EQ(calls.size(), model.automation.size());
        EXPECT_EQ(plugin->getParameter(5), 0.78125f) << "Ch.01 Volume kept its value";
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().index, 6);
        EXPECT_EQ(model.automation.back().frame % 8, 3) << "the valid event applies a frame later";
    }
    for (const auto& call : host.callsWith(audioMasterAutomate)) {
        EXPECT_GE(call.opt, 0.0f);
        EXPECT_LE(call.opt, 1.0f);
    }
}

// An event whose record is shorter than a MIDI event's is skipped: its
// bytes past byteSize are never read (under the sanitizers, a record
// allocated at exactly that size proves it).
TEST_F(Midi, EventsShorterThanAMidiEventRecordAreSkipped) {
    const VstInt32 full = static_cast<VstInt32>(sizeof(VstMidiEvent));
    for (const VstInt32 byteSize : {-1, 0, 8, 16, 24, full - 1, full}) {
        host.clearCalls();
        plugin->setParameter(4, 0.5f);
        const size_t bytes = static_cast<size_t>(byteSize > 0 ? byteSize : 0);
        // The short record alone in its own allocation, and a full-size one
        // whose MIDI bytes would set Ch.01 Panpot to 1 if they were read.
        std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes + 1]);
        VstMidiEvent padded{};
        padded.type = kVstMidiType;
        padded.byteSize = byteSize;
        padded.midiData[0] = static_cast<char>(0xB0);
        padded.midiData[1] = 115;
        padded.midiData[2] = 127;
        std::memcpy(exact.get(), &padded, bytes < sizeof padded ? bytes : sizeof padded);
        std::vector<unsigned char> listMemory(sizeof(VstEvents) + 2 * sizeof(VstEvent*));
        auto* list = reinterpret_cast<VstEvents*>(listMemory.data());
        list->numEvents = bytes >= 8 ? 2 : 1;
        list->events[0] = reinterpret_cast<VstEvent*>(&padded);
        list->events[1] = reinterpret_cast<VstEvent*>(exact.get());
        ASSERT_EQ(plugin->dispatch(effProcessEvents, 0, 0, list), 1);
        AudioBuffers in(abitest::kInputs, 4), out(abitest::kOutputs, 4);
        plugin->processReplacing(in.pointers(), out.pointers(), 4);
        EXPECT_EQ(plugin->getParameter(4), byteSize == full ? 1.0f : 0.5f) << "byteSize " << byteSize;
        EXPECT_EQ(host.callsWith(audioMasterAutomate).size(), byteSize == full ? 2u : 0u) << "byteSize " << byteSize;
    }
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

    // A new list drops what is still queued but not yet due.
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

// With every input at 0.25 and the other parameters at their defaults, the
// main bus carries 16 x 0.25 x (Master Volume x 4): a control change 118 of
// value k shows as k / 8 from the frame it applies at.
class MasterLevels : public Midi {
protected:
    std::vector<float> levels(int frames) {
        AudioBuffers in(abitest::kInputs, frames, 0.25f), out(abitest::kOutputs, frames);
        plugin->processReplacing(in.pointers(), out.pointers(), frames);
        return std::vector<float>(out[0], out[0] + frames);
    }
    void send(const std::vector<reference::Midi>& events) {
        vsthost::EventList list;
        for (const auto& e : events) list.midi(e.deltaFrames, e.status, e.data1, e.data2);
        plugin->processEvents(list);
    }
    static std::vector<reference::Midi> volumes(std::initializer_list<int> values, int32_t delta = 0) {
        std::vector<reference::Midi> events;
        for (int v : values) events.push_back(cc(delta, 118, static_cast<uint8_t>(v)));
        return events;
    }
};

std::vector<float> eighths(std::initializer_list<int> values) {
    std::vector<float> levels;
    for (int v : values) levels.push_back(static_cast<float>(v) / 8.0f);
    return levels;
}

// Ten changes due at frame 0 of a 4-frame block: six are left over. Whatever
// the next list holds (nothing, no list at all, or an event of its own), the
// six apply first, one per frame, in their order.
TEST_F(MasterLevels, ABacklogSurvivesTheNextList) {
    const struct {
        const char* next;
        bool null;
        std::vector<reference::Midi> events;
        std::vector<float> block2, block3;
    } cases[] = {
        {"an empty list", false, {}, eighths({5, 6, 7, 8}), eighths({9, 10, 10, 10})},
        {"a null list", true, {}, eighths({5, 6, 7, 8}), eighths({9, 10, 10, 10})},
        {"a list of its own", false, volumes({50}), eighths({5, 6, 7, 8}), eighths({9, 10, 50, 50})},
        {"its own, due later", false, volumes({50}, 6), eighths({5, 6, 7, 8}), eighths({9, 10, 50, 50})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.next);
        std::string error;
        vsthost::Host fresh;
        auto p = vsthost::Plugin::create(abitest::module(), fresh, error);
        ASSERT_TRUE(p) << error;
        std::swap(plugin, p);
        send(volumes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        EXPECT_EQ(levels(4), eighths({1, 2, 3, 4}));
        if (c.null)
            ASSERT_EQ(plugin->dispatch(effProcessEvents, 0, 0, nullptr), 1);
        else
            send(c.events);
        EXPECT_EQ(levels(4), c.block2);
        EXPECT_EQ(levels(4), c.block3);
        const auto told = fresh.callsWith(audioMasterAutomate);
        ASSERT_EQ(told.size(), c.events.empty() ? 10u : 11u);
        for (size_t i = 0; i < 10; ++i) EXPECT_EQ(told[i].opt, static_cast<float>(i + 1) / 128.0f);
        std::swap(plugin, p);
        p->close();
    }
}

// An event a list placed far beyond its block is dropped by the next list.
TEST_F(MasterLevels, AFarAheadEventIsDroppedByTheNextList) {
    send(volumes({3}, 100));
    EXPECT_EQ(levels(8), std::vector<float>(8, 4.0f));
    send(volumes({7}, 2));
    EXPECT_EQ(levels(8), std::vector<float>({4.0f, 4.0f, 0.875f, 0.875f, 0.875f, 0.875f, 0.875f, 0.875f}));
    EXPECT_EQ(levels(128), std::vector<float>(128, 0.875f));
    EXPECT_EQ(host.callsWith(audioMasterAutomate).size(), 1u);
}

// The queue holds 255 events, backlog first: 99 left over and 200 new ones
// make 255, of which the new list's first 156.
TEST_F(MasterLevels, TheBacklogCountsTowardsThe255) {
    std::vector<reference::Midi> first, second;
    for (int i = 0; i < 100; ++i) first.push_back(cc(0, 115, static_cast<uint8_t>(i)));
    for (int i = 0; i < 200; ++i) second.push_back(cc(0, 114, static_cast<uint8_t>(i % 128)));
    send(first);
    levels(1);
    send(second);
    levels(300);
    const auto told = host.callsWith(audioMasterAutomate);
    ASSERT_EQ(told.size(), 1u + 255u);
    EXPECT_EQ(told[99].index, 4);
    EXPECT_EQ(told[99].opt, 99 / 128.0f);
    EXPECT_EQ(told[100].index, 5);
    EXPECT_EQ(told[255].opt, (155 % 128) / 128.0f);
}

// A host chasing all 68 controllers at offset 0 into 32-frame blocks, with
// an event of its own in the next block: every controller lands, in order,
// and the new event after them.
TEST_F(Midi, ChasingEveryControllerLosesNone) {
    std::vector<reference::Midi> chase;
    for (int index = 0; index < abitest::kParams; ++index) {
        for (int cc = 0; cc < 128; ++cc)
            if (reference::Mixer::parameterForController(cc) == index)
                chase.push_back({0, 0xB0, static_cast<uint8_t>(cc), static_cast<uint8_t>((index * 5 + 3) % 128)});
    }
    ASSERT_EQ(chase.size(), 68u);
    runBlock(chase, 32);
    runBlock({cc(4, 118, 99)}, 32);  // Master Volume again, after the chase
    runBlock({}, 32);
    runBlock({}, 32, false);
    const auto told = host.callsWith(audioMasterAutomate);
    ASSERT_EQ(told.size(), 69u);
    for (int index = 0; index < abitest::kParams; ++index) {
        EXPECT_EQ(told[static_cast<size_t>(index)].index, index);
        if (index != 1) {
            EXPECT_EQ(plugin->getParameter(index), static_cast<float>((index * 5 + 3) % 128) / 128.0f);
        }
    }
    EXPECT_EQ(told[68].index, 1);
    EXPECT_EQ(plugin->getParameter(1), 99 / 128.0f);
}

}  // namespace
