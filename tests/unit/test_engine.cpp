// The format-free engine linked directly: the MIDI queue's rules, the
// lanes that let one group of frames change its gains at every frame, the
// dirty bits, and values that are not finite numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/midi_queue.h"
#include "engine/mix_engine.h"
#include "planes.h"

using namespace tarnvale;
using unittest::Planes;

namespace {

struct Event {
    int32_t delta;
    uint8_t status, data1, data2;
};

// The listener hosts give the engine: store the value, and note it.
struct Recorder {
    MixEngine* engine = nullptr;
    std::vector<std::pair<int32_t, float>> told;
    static void listen(void* self, int32_t index, float value) {
        auto* r = static_cast<Recorder*>(self);
        r->engine->setParameter(index, value);
        r->told.emplace_back(index, value);
    }
};

void queue(MixEngine& engine, const std::vector<Event>& events) {
    engine.beginEvents();
    for (const auto& e : events) engine.queueMidi(e.delta, e.status, e.data1, e.data2);
}

TEST(MidiQueue, KeepsWhatIsDueAndDropsWhatIsNot) {
    MidiQueue q;
    q.beginList();
    q.append(0, 0xB0, 1, 1);
    q.append(3, 0xB0, 2, 2);
    q.append(-4, 0x93, 3, 3);
    q.append(9, 0xB0, 4, 4);
    ASSERT_EQ(q.count(), 4);
    q.take();  // the first is applied in a 2-frame block
    q.endBlock(2);
    // At the next block's start: the one at 3 is due at 1 (not yet), the
    // one at -4 is overdue, the one at 9 lies ahead.
    EXPECT_EQ(q.headDue(), 1);
    q.beginList();
    ASSERT_EQ(q.count(), 1);
    EXPECT_EQ(q.at(0).data1, 3);
    EXPECT_EQ(q.at(0).status, 0x90);
    EXPECT_EQ(q.at(0).channel, 3);
    EXPECT_EQ(q.headDue(), -6);

    // The new list follows the kept events; the queue fills up at 255.
    for (int i = 0; i < 300; ++i) q.append(i, 0xB0, 5, static_cast<uint8_t>(i));
    ASSERT_EQ(q.count(), kMaxQueuedEvents);
    EXPECT_EQ(q.at(1).data2, 0);
    EXPECT_EQ(q.at(254).data2, 253);

    // A block of no frames moves nothing.
    q.endBlock(0);
    q.beginList();
    EXPECT_EQ(q.count(), 2) << "the overdue one and the one at offset 0";
}

// Events closer together than a vector of frames are mixed a group at a
// time with per-frame gains. The result must be bit for bit what the same
// events give when every frame is its own block.
TEST(Engine, DenseEventsMixExactlyAsFrameByFrame) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f), unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> controller(0, 127), value(0, 127);
    for (int round = 0; round < 40; ++round) {
        const int frames = 1 + static_cast<int>(rng() % 200);
        Planes in(kNumInputs, frames), whole(kNumOutputs, frames), single(kNumOutputs, frames);
        for (auto& v : in.data)
            for (float& x : v) x = signal(rng);
        std::vector<Event> events;
        const int count = static_cast<int>(rng() % 120);
        for (int e = 0; e < count; ++e) {
            const auto delta = static_cast<int32_t>(rng() % static_cast<unsigned>(frames + 8)) - 4;
            events.push_back({delta, static_cast<uint8_t>(rng() % 5 == 0 ? 0x90 : 0xB0 | (e % 16)),
                              static_cast<uint8_t>(controller(rng)), static_cast<uint8_t>(value(rng))});
        }
        MixEngine a, b;
        Recorder ra, rb;
        ra.engine = &a;
        rb.engine = &b;
        for (int k = 0; k < 3; ++k) {  // the host has moved some faders
            const int index = static_cast<int>(rng() % kNumParams);
            const float v = unit(rng) * 1.2f;
            a.setParameter(index, v);
            b.setParameter(index, v);
        }
        queue(a, events);
        queue(b, events);
        a.process(in.in(0).data(), whole.out(0).data(), frames, Recorder::listen, &ra);
        for (int f = 0; f < frames; ++f) b.process(in.in(f).data(), single.out(f).data(), 1, Recorder::listen, &rb);
        ASSERT_EQ(ra.told, rb.told) << "round " << round;
        for (int k = 0; k < kNumOutputs; ++k)
            ASSERT_EQ(std::memcmp(whole.data[k].data(), single.data[k].data(), sizeof(float) * static_cast<size_t>(frames)), 0)
                << "output " << k << ", round " << round << ", " << frames << " frames, " << count << " events";
    }
}

// In place, the dense groups read every input of a frame before writing.
TEST(Engine, DenseEventsInPlaceEqualSeparateBuffers) {
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    constexpr int kFrames = 96;
    Planes in(kNumInputs, kFrames), apart(kNumOutputs, kFrames);
    for (auto& v : in.data)
        for (float& x : v) x = signal(rng);
    Planes shared = in, extra(kNumOutputs - kNumInputs, kFrames);
    std::vector<Event> events;
    for (int f = 0; f < kFrames; ++f)
        events.push_back({f, 0xB0, kParameters[static_cast<size_t>(f * 7 % kNumParams)].controller,
                          static_cast<uint8_t>(rng() % 128)});
    MixEngine a, b;
    queue(a, events);
    queue(b, events);
    a.process(in.in(0).data(), apart.out(0).data(), kFrames, nullptr, nullptr);
    std::vector<float*> outs = shared.out(0);  // outputs 0..31 over inputs 0..31
    for (auto* p : extra.out(0)) outs.push_back(p);
    b.process(shared.in(0).data(), outs.data(), kFrames, nullptr, nullptr);
    for (int k = 0; k < kNumOutputs; ++k)
        for (int i = 0; i < kFrames; ++i) ASSERT_EQ(outs[static_cast<size_t>(k)][i], apart.data[k][i]) << k << "," << i;
}

// A value that is not a finite number mixes as the parameter's default,
// while the store keeps it as given.
TEST(Engine, NonFiniteValuesMixAsTheDefault) {
    constexpr int kFrames = 40;
    Planes in(kNumInputs, kFrames), expected(kNumOutputs, kFrames), out(kNumOutputs, kFrames);
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    for (auto& v : in.data)
        for (float& x : v) x = signal(rng);
    MixEngine reference;
    reference.process(in.in(0).data(), expected.out(0).data(), kFrames, nullptr, nullptr);
    for (const float bad : {std::nanf(""), INFINITY, -INFINITY})
        for (int index = 0; index < kNumParams; ++index) {
            MixEngine engine;
            engine.setParameter(index, bad);
            engine.process(in.in(0).data(), out.out(0).data(), kFrames, nullptr, nullptr);
            const float kept = engine.getParameter(index);
            EXPECT_EQ(std::memcmp(&kept, &bad, sizeof bad), 0);
            for (int k = 0; k < kNumOutputs; ++k)
                ASSERT_EQ(out.data[k], expected.data[k]) << "parameter " << index << " = " << bad << ", output " << k;
        }
}

TEST(Engine, DirtyBitsAreTakenOnceAndOnlyTheirStripsRecomputed) {
    ParameterStore store;
    uint32_t taken[DirtyBits::kWords];
    EXPECT_FALSE(store.dirty.take(taken));
    store.set(0, 0.1f);
    store.set(67, 0.2f);
    store.set(33, 0.3f);
    EXPECT_TRUE(store.dirty.any());
    ASSERT_TRUE(store.dirty.take(taken));
    EXPECT_EQ(taken[0], 1u);
    EXPECT_EQ(taken[1], 1u << 1);
    EXPECT_EQ(taken[2], 1u << 3);
    EXPECT_FALSE(store.dirty.any());
    EXPECT_FALSE(store.dirty.take(taken));

    // A channel's change leaves the other channels' gains as they were.
    MixEngine engine;
    Planes in(kNumInputs, 4), out(kNumOutputs, 4);
    const MixGains before = engine.currentGains();
    engine.setParameter(paramIndex(3, kVolume), 0.5f);
    engine.process(in.in(0).data(), out.out(0).data(), 4, nullptr, nullptr);
    const MixGains& after = engine.currentGains();
    for (int c = 0; c < kNumChannels; ++c)
        EXPECT_EQ(after.feed[kMainLeft][c] == before.feed[kMainLeft][c], c != 2) << "channel " << c + 1;
}

}  // namespace
