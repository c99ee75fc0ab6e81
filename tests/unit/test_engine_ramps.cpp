// What the engine offers beyond the 68 parameters, linked directly: ramps
// (their values, lengths and restarts, the same bits however a block is
// cut and in every kernel), mute, solo and polarity over every output,
// and the peak meters against readings worked out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/mix_engine.h"
#include "planes.h"

using namespace tarnvale;
using unittest::Planes;

namespace {

void mix(MixEngine& engine, const Planes& in, Planes& out, int from, int frames) {
    engine.process(in.in(from).data(), out.out(from).data(), frames, nullptr, nullptr);
}

void queue(MixEngine& engine, int32_t delta, int parameter, uint8_t value) {
    engine.beginEvents();
    engine.queueMidi(delta, 0xB0, kParameters[parameter].controller, value);
}

// Channel 1's volume falls from unity to nothing: on a constant input of 1
// its direct output is its gain. The ramp starts at the block's first
// frame, one step below the old gain, and reaches the new gain exactly on
// its last frame, round(smoothing x rate) frames in; before and after it
// the gains are the old and the new ones.
TEST(Ramps, StartEndAndLengthAtSeveralRates) {
    const struct {
        double rate;
        float ms;
        int frames;  // the ramp's length
    } cases[] = {{48000, 5, 240}, {44100, 5, 221}, {96000, 5, 480}, {8000, 5, 40}, {192000, 1, 192},
                 {48000, 100, 4800}, {48000, 0.01f, 0}, {48000, 0.02f, 1}, {48000, 0.1f, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.ms << " ms");
        MixEngine engine;
        engine.setSampleRate(c.rate);
        engine.setControl(kSmoothingControl, c.ms);
        const int total = c.frames + 64;
        Planes in(kNumInputs, total, 1.0f), out(kNumOutputs, total);
        mix(engine, in, out, 0, 16);  // the smoothing taken, gains steady at unity
        const int volume = paramIndex(1, kVolume);
        engine.setParameter(volume, 0.0f);
        mix(engine, in, out, 16, total - 16);
        const std::vector<float>& direct = out.data[directOutput(0, kLeft)];
        EXPECT_EQ(direct[15], 1.0f) << "before the change";
        const int n = std::max(c.frames, 1);
        for (int k = 0; k < n; ++k) {
            const float expected = rampGain(0.0f, 1.0f, static_cast<float>(n - 1 - k), 1.0f / static_cast<float>(n));
            ASSERT_EQ(direct[16 + k], c.frames == 0 ? 0.0f : expected) << "frame " << k << " of the ramp";
        }
        if (c.frames > 1) {
            EXPECT_NEAR(direct[16], 1.0f - 1.0f / c.frames, 1e-6f) << "one step from the old gain";
            EXPECT_GT(direct[16 + c.frames - 2], 0.0f) << "not there before its last frame";
        }
        EXPECT_EQ(direct[16 + n - 1], 0.0f) << "the new gain on the ramp's last frame";
        for (int k = n; k < total - 16; ++k) ASSERT_EQ(direct[16 + k], 0.0f) << k;
        // The other channels and the other feeds never moved.
        EXPECT_EQ(out.data[directOutput(1, kLeft)][total - 1], 1.0f);
    }
}

// A change during a ramp starts a new one from the gain the frame before it
// had, so the output never jumps; the new one ends on its own last frame.
TEST(Ramps, AChangeDuringARampStartsFromWhereItIs) {
    MixEngine engine;
    engine.setControl(kSmoothingControl, 5.0f);  // 240 frames at 48 kHz
    constexpr int kFrames = 700;
    Planes in(kNumInputs, kFrames, 1.0f), out(kNumOutputs, kFrames);
    mix(engine, in, out, 0, 1);
    const int volume = paramIndex(1, kVolume);
    engine.setParameter(volume, 0.0f);
    // Halfway down, MIDI sets it to 100/128.
    queue(engine, 120, volume, 100);
    mix(engine, in, out, 1, kFrames - 1);
    const std::vector<float>& g = out.data[directOutput(0, kLeft)];
    const float target = controllerValue(100) / kUnityChannelLevel;
    const float before = g[120];  // the first ramp's gain at the frame before the event
    EXPECT_NEAR(before, 1.0f - 120.0f / 240.0f, 1e-5f);
    for (int k = 0; k < 240; ++k) {
        const float expected = rampGain(target, before - target, static_cast<float>(239 - k), 1.0f / 240.0f);
        ASSERT_EQ(g[121 + k], expected) << "frame " << k << " of the second ramp";
    }
    EXPECT_EQ(g[121 + 239], target);
    for (int f = 2; f < kFrames; ++f) ASSERT_LE(std::fabs(g[f] - g[f - 1]), 1.0f / 240.0f + 1e-6f) << "a jump at " << f;
}

// Random host writes, switches and MIDI (dense and sparse) while ramps run:
// one call per block gives the same bits as one call per frame, and as
// blocks cut at random; and with smoothing at 0, exactly what an engine
// without smoothing mixes.
TEST(Ramps, TheSameBitsHoweverTheBlockIsCut) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f), unit(0.0f, 1.0f);
    for (int round = 0; round < 24; ++round) {
        const int frames = 64 + static_cast<int>(rng() % 400);
        const float smoothing = round % 6 == 0 ? 0.0f : 0.05f + unit(rng) * 3.0f;
        Planes in(kNumInputs, frames), whole(kNumOutputs, frames), single(kNumOutputs, frames), cut(kNumOutputs, frames);
        for (auto& v : in.data)
            for (float& x : v) x = signal(rng);
        MixEngine a, b, c, plain;
        for (MixEngine* e : {&a, &b, &c}) e->setControl(kSmoothingControl, smoothing);
        std::vector<std::pair<int, float>> writes;
        for (int k = 0; k < 6; ++k) {
            const int index = rng() % 3 == 0 ? kFirstSwitch + static_cast<int>(rng() % kNumSwitches)
                                             : static_cast<int>(rng() % kNumParams);
            writes.emplace_back(index, isSwitch(index) ? static_cast<float>(rng() % 2) : unit(rng));
        }
        struct Ev {
            int32_t delta;
            uint8_t cc, value;
        };
        std::vector<Ev> events;
        const int count = static_cast<int>(rng() % 60);
        for (int e = 0; e < count; ++e) {
            const int p = static_cast<int>(rng() % kNumParams);
            events.push_back({static_cast<int32_t>(rng() % static_cast<unsigned>(frames)), kParameters[p].controller,
                              static_cast<uint8_t>(rng() % 128)});
        }
        std::sort(events.begin(), events.end(), [](const Ev& x, const Ev& y) { return x.delta < y.delta; });
        for (MixEngine* e : {&a, &b, &c, &plain}) {
            for (const auto& w : writes) e->setControl(w.first, w.second);
            e->beginEvents();
            for (const auto& ev : events) e->queueMidi(ev.delta, 0xB0, ev.cc, ev.value);
        }
        mix(a, in, whole, 0, frames);
        for (int f = 0; f < frames; ++f) mix(b, in, single, f, 1);
        for (int f = 0; f < frames;) {
            const int n = std::min(frames - f, 1 + static_cast<int>(rng() % 40));
            mix(c, in, cut, f, n);
            f += n;
        }
        for (int k = 0; k < kNumOutputs; ++k) {
            const size_t bytes = sizeof(float) * static_cast<size_t>(frames);
            ASSERT_EQ(std::memcmp(whole.data[k].data(), single.data[k].data(), bytes), 0) << "output " << k << ", round " << round;
            ASSERT_EQ(std::memcmp(whole.data[k].data(), cut.data[k].data(), bytes), 0) << "output " << k << ", round " << round;
        }
        if (smoothing == 0.0f) {
            // No smoothing: an engine that was never told of it mixes the
            // same (switches included, which step).
            Planes reference(kNumOutputs, frames);
            mix(plain, in, reference, 0, frames);
            for (int k = 0; k < kNumOutputs; ++k) ASSERT_EQ(reference.data[k], whole.data[k]) << "output " << k;
        }
    }
}

// The kernels' ramp form and their lanes' ramp: every frame of a ramping
// channel at the gain rampGain gives for its steps left, to the bit, in
// every kernel, separate and in place.
TEST(Ramps, EveryKernelRampsToTheSameBits) {
    std::mt19937 rng(22);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), signal(-1.0f, 1.0f);
    for (int round = 0; round < 10; ++round) {
        float p[kNumParams];
        for (float& v : p) v = unit(rng);
        MixGains target;
        computeGains(p, target);
        GainRamp ramp{};
        const int frames = 1 + static_cast<int>(rng() % 120), offset = static_cast<int>(rng() % 9);
        for (int c = 0; c < kNumChannels; ++c) {
            if (rng() % 4 == 0) continue;  // steady channels among ramping ones
            ramp.channels |= 1u << c;
            const int length = frames + static_cast<int>(rng() % 300);
            ramp.remaining[c] = static_cast<float>(frames - 1 + static_cast<int>(rng() % static_cast<unsigned>(length - frames + 1)));
            ramp.inverse[c] = 1.0f / static_cast<float>(length);
            for (int f = 0; f < kNumFeeds; ++f) ramp.span[f][c] = signal(rng) * 2.0f;
        }
        auto gainOf = [&](int f, int c, int j) {
            if (((ramp.channels >> c) & 1u) == 0) return target.feed[f][c];
            const float steps = ramp.remaining[c] - static_cast<float>(j);
            return steps < 0.0f ? target.feed[f][c] : rampGain(target.feed[f][c], ramp.span[f][c], steps, ramp.inverse[c]);
        };
        Planes in(kNumInputs, 160);
        for (auto& v : in.data)
            for (float& x : v) x = signal(rng);
        std::vector<std::vector<float>> expected(kNumOutputs, std::vector<float>(160, -5.0f));
        for (int j = 0; j < frames; ++j) {
            float bus[kNumFeeds] = {};
            for (int c = 0; c < kNumChannels; ++c)
                for (int f = 0; f < kNumFeeds; ++f) {
                    const float x = in.data[channelInput(c, sideOf(static_cast<Feed>(f)))][offset + j] * gainOf(f, c, j);
                    bus[f] = c == 0 ? x : bus[f] + x;
                    if (f == kDirectFeed[kLeft]) expected[directOutput(c, kLeft)][offset + j] = x;
                    if (f == kDirectFeed[kRight]) expected[directOutput(c, kRight)][offset + j] = x;
                }
            for (int f = 0; f < kNumFeeds; ++f) expected[kFeedOutput[f]][offset + j] = bus[f];
        }
        for (const auto& info : kKernels) {
            if (!kernelRuns(info.isa)) continue;
            SCOPED_TRACE(info.name);
            for (MixKernel kernel : {info.separate, info.inPlace}) {
                Planes out(kNumOutputs, 160, -5.0f);
                EXPECT_EQ(kernel(in.in(0).data(), out.out(0).data(), offset, frames, target, nullptr, nullptr, &ramp, nullptr),
                          frames);
                ASSERT_EQ(out.data, expected) << "round " << round;
            }
            // The lanes of a group, from a ramp at a lane's distance.
            GainLanes lanes;
            for (int c = 0; c < kNumChannels; ++c) info.spreadRamp(target, ramp, c, 0, kLanes, lanes);
            for (int f = 0; f < kNumFeeds; ++f)
                for (int c = 0; c < kNumChannels; ++c)
                    for (int j = 0; j < kLanes; ++j) ASSERT_EQ(lanes.gain[f][c][j], gainOf(f, c, j)) << f << "," << c << "," << j;
        }
    }
}

// The first block after jumpToTargets takes every pending change at its
// first frame, and ends a ramp in progress.
TEST(Ramps, AJumpTakesTheValuesAtOnce) {
    MixEngine engine;
    engine.setControl(kSmoothingControl, 5.0f);
    engine.setParameter(paramIndex(0, kVolume), 0.125f);  // master at 50 %
    engine.jumpToTargets();
    Planes in(kNumInputs, 300, 1.0f), out(kNumOutputs, 300);
    mix(engine, in, out, 0, 100);
    EXPECT_EQ(out.data[directOutput(3, kLeft)][0], 0.5f);
    EXPECT_EQ(engine.ramp().channels, 0u);
    engine.setParameter(paramIndex(0, kVolume), 0.25f);
    mix(engine, in, out, 100, 100);
    EXPECT_EQ(engine.ramp().channels, (1u << kNumChannels) - 1) << "an ordinary change ramps";
    EXPECT_LT(out.data[directOutput(3, kLeft)][150], 1.0f);
    engine.jumpToTargets();
    mix(engine, in, out, 200, 100);
    EXPECT_EQ(out.data[directOutput(3, kLeft)][200], 1.0f) << "the ramp in progress ended at once";
}

// Every combination of mute, solo and polarity over two channels' worth of
// cases, against every output: channel c carries 2^c on both sides (so
// every sum is exact), sends at unity. A muted channel reaches nothing;
// with any solo, only soloed channels reach anything; polarity negates all
// a channel gives.
TEST(Switches, TruthTableOverEveryOutput) {
    const struct {
        const char* what;
        std::vector<int> muted, soloed, inverted;
    } cases[] = {
        {"nothing switched", {}, {}, {}},
        {"one muted", {2}, {}, {}},
        {"one soloed", {}, {5}, {}},
        {"two soloed, one of them muted", {5}, {5, 9}, {}},
        {"inverted", {}, {}, {0, 15}},
        {"inverted and soloed", {}, {3}, {3, 4}},
        {"all muted", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {}, {}},
        {"muted, soloed and inverted", {7}, {7, 8}, {7, 8}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        MixEngine engine;
        for (int c = 0; c < kNumChannels; ++c) {
            engine.setParameter(paramIndex(c + 1, kSend1), kUnityChannelLevel);
            engine.setParameter(paramIndex(c + 1, kSend2), kUnityChannelLevel);
        }
        for (int c : t.muted) engine.setControl(switchControl(c, kMute), 1.0f);
        for (int c : t.soloed) engine.setControl(switchControl(c, kSolo), 1.0f);
        for (int c : t.inverted) engine.setControl(switchControl(c, kPolarity), 1.0f);
        Planes in(kNumInputs, 8), out(kNumOutputs, 8, 99.0f);
        for (int c = 0; c < kNumChannels; ++c)
            for (Side s : {kLeft, kRight}) std::fill(in.data[channelInput(c, s)].begin(), in.data[channelInput(c, s)].end(), std::ldexp(1.0f, c));
        mix(engine, in, out, 0, 8);
        auto has = [](const std::vector<int>& list, int c) { return std::find(list.begin(), list.end(), c) != list.end(); };
        float bus = 0.0f;
        for (int c = 0; c < kNumChannels; ++c) {
            const bool heard = !has(t.muted, c) && (t.soloed.empty() || has(t.soloed, c));
            const float expected = heard ? (has(t.inverted, c) ? -1.0f : 1.0f) * std::ldexp(1.0f, c) : 0.0f;
            bus += expected;
            for (Side s : {kLeft, kRight}) EXPECT_EQ(out.data[directOutput(c, s)][7], expected) << "channel " << c + 1;
        }
        for (int o = 0; o < kFirstDirectOutput; ++o) EXPECT_EQ(out.data[o][7], bus) << "bus output " << o;
    }
}

// With smoothing, a switch ramps like any change: a mute fades out over the
// ramp, a polarity flip passes through 0, and neither steps.
TEST(Switches, SwitchesRampWithoutAStep) {
    for (SwitchKind kind : {kMute, kPolarity, kSolo}) {
        SCOPED_TRACE(kSwitchRows[kind].name);
        MixEngine engine;
        engine.setControl(kSmoothingControl, 2.0f);  // 96 frames
        Planes in(kNumInputs, 300, 1.0f), out(kNumOutputs, 300);
        mix(engine, in, out, 0, 4);
        engine.setControl(switchControl(kind == kSolo ? 1 : 0, kind), 1.0f);  // soloing channel 2 silences channel 1
        mix(engine, in, out, 4, 296);
        const std::vector<float>& g = out.data[directOutput(0, kLeft)];
        for (int f = 1; f < 300; ++f) ASSERT_LE(std::fabs(g[f] - g[f - 1]), (kind == kPolarity ? 2.0f : 1.0f) / 96 + 1e-6f) << f;
        EXPECT_EQ(g[4 + 95], kind == kPolarity ? -1.0f : 0.0f);
        EXPECT_EQ(g[299], kind == kPolarity ? -1.0f : 0.0f);
    }
}

// The meters' decibels against the C library's, over the whole float range
// a meter can show and beyond.
TEST(Meters, DecibelsAgreeWithTheLibrary) {
    for (float x = 1e-30f; x < 1e30f; x *= 1.0137f) ASSERT_NEAR(decibels(x), 20.0 * std::log10(static_cast<double>(x)), 2e-4) << x;
    for (float x : {1.0f, 0.5f, 2.0f, 0.70710677f, 1.4142135f, 1.4142137f, 3.1622777e-5f, 16.0f})
        EXPECT_NEAR(decibels(x), 20.0 * std::log10(static_cast<double>(x)), 1e-4) << x;
    EXPECT_EQ(decibels(0.0f), -INFINITY);
    EXPECT_EQ(decibels(-1.0f), -INFINITY);
    EXPECT_EQ(decibels(INFINITY), INFINITY);
}

// The meters against readings worked out here from the outputs themselves:
// each block's peak of either side of each pair in dB, shown at once when
// it is at or above the reading, held for kMeterLaw.holdSeconds, then
// falling at kMeterLaw.fallDbPerSecond, never below the block's own peak
// or the floor. Unmeasured pairs read the floor. The last stretch plays one
// block again and again, then quieter ones for longer than the hold, then
// that block again: the same peak held anew, then rising back after a fall.
TEST(Meters, ReadingsFollowTheOutputsWithHoldAndFall) {
    constexpr double kRate = 44100;
    MixEngine engine;
    engine.setSampleRate(kRate);
    const uint32_t measured = 0x7FFFFu & ~(1u << 9);  // all but channel 7's direct pair
    engine.setMeteredPairs(measured);
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f), unit(0.0f, 1.0f);
    double reading[kNumPairs], hold[kNumPairs];
    for (int p = 0; p < kNumPairs; ++p) reading[p] = kMeterLaw.floorDb, hold[p] = 0;
    Planes repeated(kNumInputs, 2048);
    for (auto& v : repeated.data)
        for (float& x : v) x = signal(rng) * 1.5f;  // above every earlier block
    for (int block = 0; block < 150; ++block) {
        const bool repeating = block >= 120;
        const int frames = repeating ? 2048 : block >= 20 && block < 90 ? 4096 : 1 + static_cast<int>(rng() % 2048);
        // Loud, then a long quiet stretch (the fall), then loud again.
        const float level = block < 20 ? 1.0f : block < 90 ? 0.001f : block < 120 ? unit(rng) : 0.01f;
        Planes in(kNumInputs, frames), out(kNumOutputs, frames);
        for (auto& v : in.data)
            for (float& x : v) x = signal(rng) * level * (rng() % 7 == 0 ? 0.0f : 1.0f);
        if (repeating && (block < 123 || block >= 138)) in = repeated;
        if (block % 10 == 3 && !repeating) engine.setParameter(static_cast<int>(rng() % kNumParams), unit(rng));
        engine.beginEvents();
        if (block % 4 == 1 && !repeating)
            engine.queueMidi(static_cast<int32_t>(rng() % frames), 0xB0, kParameters[rng() % kNumParams].controller, 64);
        mix(engine, in, out, 0, frames);
        for (int p = 0; p < kNumPairs; ++p) {
            if (((measured >> p) & 1u) == 0) {
                ASSERT_EQ(engine.meterLevel(p), kMeterLaw.floorDb);
                continue;
            }
            float peak = 0.0f;
            for (int side = 0; side < 2; ++side)
                for (float x : out.data[2 * p + side]) peak = std::max(peak, std::fabs(x));
            double db = peak > 0.0f ? 20.0 * std::log10(static_cast<double>(peak)) : kMeterLaw.floorDb;
            db = std::clamp(db, static_cast<double>(kMeterLaw.floorDb), static_cast<double>(kMeterLaw.ceilingDb));
            if (db >= reading[p]) {
                reading[p] = db;
                hold[p] = kMeterLaw.holdSeconds * kRate;
            } else {
                const double falling = std::max(0.0, frames - hold[p]);
                hold[p] = std::max(0.0, hold[p] - frames);
                reading[p] = std::max(db, reading[p] - kMeterLaw.fallDbPerSecond * falling / kRate);
            }
            ASSERT_NEAR(engine.meterLevel(p), reading[p], 0.01) << "block " << block << ", pair " << p;
        }
        if (block == 19) {
            EXPECT_GT(engine.meterLevel(0), 15.0f) << "sixteen loud channels";
        }
        if (block == 89) {
            EXPECT_LT(engine.meterLevel(0), -30.0f) << "the quiet stretch fell to its own peaks";
        }
    }
}

// A sample that is infinite or not a number reads as the meter's ceiling on
// every pair it reaches (not passed over as silence), and the reading then
// falls as after any peak; the pairs it does not reach read as their own.
TEST(Meters, NonFiniteSamplesReadAsTheCeiling) {
    for (float bad : {INFINITY, -INFINITY, NAN, -NAN}) {
        SCOPED_TRACE(testing::Message() << bad);
        MixEngine engine;
        engine.setMeteredPairs((1u << kNumPairs) - 1);
        Planes in(kNumInputs, 256, 0.25f), out(kNumOutputs, 256);
        in.data[channelInput(2, kLeft)][100] = bad;  // channel 3 (0-based 2)
        mix(engine, in, out, 0, 256);
        EXPECT_EQ(engine.meterLevel(pairOf(busOutput(kMainBus, kLeft))), kMeterLaw.ceilingDb);
        EXPECT_EQ(engine.meterLevel(pairOf(directOutput(2, kLeft))), kMeterLaw.ceilingDb);
        EXPECT_NEAR(engine.meterLevel(pairOf(directOutput(3, kLeft))), 20.0 * std::log10(0.25), 1e-3);
        in.data[channelInput(2, kLeft)][100] = 0.25f;
        for (int block = 0; block < 100; ++block) mix(engine, in, out, 0, 256);
        EXPECT_LT(engine.meterLevel(pairOf(directOutput(2, kLeft))), kMeterLaw.ceilingDb);
        EXPECT_GE(engine.meterLevel(pairOf(directOutput(2, kLeft))), 20.0 * std::log10(0.25) - 1e-3);
    }
}

}  // namespace
