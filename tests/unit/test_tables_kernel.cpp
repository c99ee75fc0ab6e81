// The engine's tables and its pure kernels, on plain arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cfloat>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/mix_kernel.h"
#include "engine/tables.h"

using namespace tarnvale;

namespace {

TEST(Tables, ControllerMapRoundTripsAndLeavesTheRestUnmapped) {
    const struct {
        int controller;
        int parameter;
    } known[] = {{119, 0}, {118, 1}, {115, 4}, {102, 17}, {90, 18}, {85, 23}, {63, 24},
                 {39, 48}, {37, 49}, {33, 53}, {31, 54}, {20, 65}, {15, 66}, {14, 67}};
    for (const auto& k : known) {
        EXPECT_EQ(kParameterForController[k.controller], k.parameter) << "controller " << k.controller;
        EXPECT_EQ(kParameters[k.parameter].controller, k.controller);
    }
    std::set<int> unmapped;
    for (int cc = 0; cc < 256; ++cc)
        if (kParameterForController[cc] == kNoParameter) unmapped.insert(cc);
        else EXPECT_EQ(kParameters[kParameterForController[cc]].controller, cc);
    // 0..13, 16..19, 32, 38, 64..84, 91..101, 120..127, and every byte above 127.
    std::set<int> expected;
    for (int cc = 0; cc < 256; ++cc)
        if (cc <= 13 || (cc >= 16 && cc <= 19) || cc == 32 || cc == 38 || (cc >= 64 && cc <= 84) ||
            (cc >= 91 && cc <= 101) || cc >= 120)
            expected.insert(cc);
    EXPECT_EQ(unmapped, expected);
    EXPECT_EQ(256 - unmapped.size(), 68u);
}

TEST(Tables, ControllerValues) {
    const struct {
        uint8_t v;
        float value;
    } cases[] = {{0, 0.0f}, {1, 0.0078125f}, {64, 0.5f}, {126, 0.984375f}, {127, 1.0f}, {128, 1.0f}, {255, 1.9921875f}};
    for (const auto& c : cases) EXPECT_EQ(controllerValue(c.v), c.value) << int(c.v);
}

TEST(Tables, NamesDefaultsAndPins) {
    EXPECT_STREQ(kParameters[0].name, "Master Panpot");
    EXPECT_STREQ(kParameters[3].name, "Master Send 2");
    EXPECT_STREQ(kParameters[37].name, "Ch.09 Volume");
    EXPECT_STREQ(kParameters[67].name, "Ch.16 Send 2");
    for (int i = 4; i < kNumParams; ++i) {
        const std::string name = kParameters[i].name;
        char strip[32];
        std::snprintf(strip, sizeof strip, "Ch.%02d ", stripOf(i));
        EXPECT_EQ(name.substr(0, 6), strip) << i;
        EXPECT_EQ(name.size(), 12u) << name;
    }
    EXPECT_EQ(defaultValue(0), 0.5f);
    EXPECT_EQ(defaultValue(1), 0.25f);
    EXPECT_EQ(defaultValue(65), 0.78125f);
    EXPECT_EQ(defaultValue(66), 0.0f);
    EXPECT_STREQ(kInputPins[0].label, "01-1 Ch.01 L");
    EXPECT_STREQ(kInputPins[31].label, "16-2 Ch.16 R");
    EXPECT_STREQ(kOutputPins[5].label, "Send 2 R");
    EXPECT_STREQ(kOutputPins[6].label, "Ch.01 L");
    EXPECT_STREQ(kOutputPins[37].label, "Ch.16 R");
}

// Frame i of `out` as the mixing rules give it from `in`, channel c mixed
// with gainsOf(c): each direct output the product, each bus the sum of the
// products from channel 1 to 16, every value rounded to float on the way.
template <typename GainsOf>
void expectMixedFrame(const std::vector<std::vector<float>>& out, const std::vector<std::vector<float>>& in, int i,
                      GainsOf gainsOf) {
    float bus[6] = {};
    for (int c = 0; c < kNumChannels; ++c) {
        const MixGains& g = gainsOf(c);
        const float l = in[2 * c][i], r = in[2 * c + 1][i];
        ASSERT_EQ(out[6 + 2 * c][i], l * g.feed[kMainLeft][c]) << "channel " << c + 1 << " frame " << i;
        ASSERT_EQ(out[7 + 2 * c][i], r * g.feed[kMainRight][c]) << "channel " << c + 1 << " frame " << i;
        bus[0] += l * g.feed[kMainLeft][c];
        bus[1] += r * g.feed[kMainRight][c];
        bus[2] += l * g.feed[kSend1Left][c];
        bus[3] += r * g.feed[kSend1Right][c];
        bus[4] += l * g.feed[kSend2Left][c];
        bus[5] += r * g.feed[kSend2Right][c];
    }
    for (int k = 0; k < 6; ++k) ASSERT_EQ(out[k][i], bus[k]) << "bus " << k << " frame " << i;
}

void defaults(float (&p)[kNumParams]) {
    for (int i = 0; i < kNumParams; ++i) p[i] = defaultValue(i);
}

TEST(Kernel, GainsAtTheLawsCorners) {
    const struct {
        const char* what;
        float masterPan, pan, volume, masterVolume;
        float effective, mainLeft, mainRight;
    } cases[] = {
        {"defaults: centre, unity", 0.5f, 0.5f, 0.78125f, 0.25f, 0.5f, 1.0f, 1.0f},
        {"pan right clamps at 1", 1.0f, 1.0f, 0.78125f, 0.25f, 1.0f, 0.0f, 1.0f},
        {"pan left clamps at 0", 0.0f, 0.0f, 0.78125f, 0.25f, 0.0f, 1.0f, 0.0f},
        {"pan 0.75: no boost, no centre cut", 0.5f, 0.75f, 0.78125f, 0.25f, 0.75f, 0.5f, 1.0f},
        {"both levels at 1: 5.12", 0.5f, 0.5f, 1.0f, 1.0f, 0.5f, 5.12f, 5.12f},
        {"volume 0 silences", 0.5f, 0.5f, 0.0f, 0.25f, 0.5f, 0.0f, 0.0f},
        {"out-of-range pan clamps", 0.5f, -3.0f, 0.78125f, 0.25f, 0.0f, 1.0f, 0.0f},
    };
    for (const auto& c : cases) {
        float p[kNumParams];
        defaults(p);
        p[0] = c.masterPan;
        p[1] = c.masterVolume;
        p[paramIndex(5, kPan)] = c.pan;
        p[paramIndex(5, kVolume)] = c.volume;
        MixGains g;
        computeGains(p, g);
        EXPECT_EQ(g.effectivePan[4], c.effective) << c.what;
        EXPECT_FLOAT_EQ(g.feed[kMainLeft][4], c.mainLeft) << c.what;
        EXPECT_FLOAT_EQ(g.feed[kMainRight][4], c.mainRight) << c.what;
    }
}

TEST(Kernel, SendsArePreFaderAndFollowTheirMasterLevel) {
    float p[kNumParams];
    defaults(p);
    p[paramIndex(2, kVolume)] = 0.0f;
    p[paramIndex(2, kSend1)] = 0.78125f;
    p[paramIndex(2, kSend2)] = 0.390625f;
    p[3] = 0.5f;  // master send 2 doubles
    MixGains g;
    computeGains(p, g);
    EXPECT_EQ(g.feed[kMainLeft][1], 0.0f);
    EXPECT_EQ(g.feed[kSend1Left][1], 1.0f);
    EXPECT_EQ(g.feed[kSend1Right][1], 1.0f);
    EXPECT_EQ(g.feed[kSend2Left][1], 1.0f);
    EXPECT_EQ(g.feed[kSend1Left][0], 0.0f);
}

TEST(Kernel, MixFramesWritesOnlyItsRunAndAllowsAliasing) {
    constexpr int kFrames = 200;  // several passes of the kernel
    std::vector<std::vector<float>> in(kNumInputs, std::vector<float>(kFrames));
    for (int k = 0; k < kNumInputs; ++k)
        for (int i = 0; i < kFrames; ++i) in[k][i] = static_cast<float>((k + 1) * 0.01 + i * 0.001);
    std::vector<std::vector<float>> out(kNumOutputs, std::vector<float>(kFrames, 9.0f));
    std::vector<const float*> ip;
    std::vector<float*> op;
    for (auto& v : in) ip.push_back(v.data());
    for (auto& v : out) op.push_back(v.data());
    float p[kNumParams];
    defaults(p);
    MixGains g;
    computeGains(p, g);
    selectedKernel().separate(ip.data(), op.data(), 10, 150, g, nullptr, nullptr, nullptr, nullptr);
    for (int k = 0; k < kNumOutputs; ++k) {
        EXPECT_EQ(out[k][9], 9.0f);
        EXPECT_EQ(out[k][160], 9.0f);
    }
    for (int i = 10; i < 160; ++i) {
        float left = 0.0f;
        for (int c = 0; c < kNumChannels; ++c) left += in[2 * c][i];
        EXPECT_FLOAT_EQ(out[0][i], left);
        EXPECT_EQ(out[6][i], in[0][i]);
        EXPECT_EQ(out[37][i], in[31][i]);
        EXPECT_EQ(out[2][i], 0.0f);
    }

    // Every output aliasing an input (six buses over channels 1..3's inputs,
    // direct pairs over their own channel's inputs): same result.
    std::vector<std::vector<float>> inplace = in;
    std::vector<float*> alias(kNumOutputs);
    std::vector<const float*> aliasIn;
    for (auto& v : inplace) aliasIn.push_back(v.data());
    for (int k = 0; k < 6; ++k) alias[k] = inplace[k].data();
    for (int k = 6; k < kNumOutputs; ++k) alias[k] = (k - 6 < 6) ? out[k].data() : inplace[k - 6].data();
    selectedKernel().inPlace(aliasIn.data(), alias.data(), 10, 150, g, nullptr, nullptr, nullptr, nullptr);
    for (int i = 10; i < 160; ++i) {
        EXPECT_EQ(alias[0][i], out[0][i]);
        EXPECT_EQ(alias[5][i], out[5][i]);
        EXPECT_EQ(alias[20][i], out[20][i]);
    }
}

// Every kernel this processor runs, on random gains, odd offsets and lengths
// (vector bodies and scalar tails), separate and aliased buffers: the same
// bits as the portable kernel, and the mix the formulas give.
TEST(Kernel, EveryKernelGivesTheSameBits) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), signal(-1.0f, 1.0f);
    constexpr int kFrames = 300;
    for (int round = 0; round < 20; ++round) {
        float p[kNumParams];
        for (float& v : p) v = unit(rng);
        MixGains g;
        computeGains(p, g);
        std::vector<std::vector<float>> in(kNumInputs, std::vector<float>(kFrames));
        for (auto& v : in)
            for (float& x : v) x = signal(rng);
        const int offset = round * 7 % 40, frames = 1 + round * 37 % 250;
        std::vector<std::vector<float>> expected(kNumOutputs, std::vector<float>(kFrames, -7.0f));
        std::vector<const float*> ip;
        std::vector<float*> ep;
        for (auto& v : in) ip.push_back(v.data());
        for (auto& v : expected) ep.push_back(v.data());
        mixFramesPortable(ip.data(), ep.data(), offset, frames, g, nullptr, nullptr, nullptr, nullptr);
        for (int i = offset; i < offset + frames; ++i)
            ASSERT_NO_FATAL_FAILURE(expectMixedFrame(expected, in, i, [&](int) -> const MixGains& { return g; }));
        for (const auto& info : kKernels) {
            if (!kernelRuns(info.isa)) continue;
            SCOPED_TRACE(info.name);
            std::vector<std::vector<float>> out(kNumOutputs, std::vector<float>(kFrames, -7.0f));
            std::vector<float*> op;
            for (auto& v : out) op.push_back(v.data());
            info.separate(ip.data(), op.data(), offset, frames, g, nullptr, nullptr, nullptr, nullptr);
            ASSERT_EQ(out, expected);
            for (auto& v : out) std::fill(v.begin(), v.end(), -7.0f);
            info.inPlace(ip.data(), op.data(), offset, frames, g, nullptr, nullptr, nullptr, nullptr);
            ASSERT_EQ(out, expected);

            // In place: outputs 0..31 over inputs 0..31.
            auto work = in;
            std::vector<const float*> wi;
            std::vector<float*> wo(kNumOutputs);
            for (auto& v : work) wi.push_back(v.data());
            for (int k = 0; k < kNumOutputs; ++k) wo[k] = k < kNumInputs ? work[k].data() : out[k].data();
            info.inPlace(wi.data(), wo.data(), offset, frames, g, nullptr, nullptr, nullptr, nullptr);
            for (int k = 0; k < kNumInputs; ++k)
                for (int i = offset; i < offset + frames; ++i) ASSERT_EQ(work[k][i], expected[k][i]) << k << "," << i;
        }
    }
    EXPECT_TRUE(kernelRuns(KernelIsa::portable));
}

// The meters' peaks as every kernel measures them, separate and in place,
// in one call and frame by frame: for each measured pair, the largest
// magnitude's bits over both sides' output samples, worked out here from
// the outputs; samples that are infinite or not a number (from such inputs)
// are above every finite one. With even gains and with a lane per frame;
// every pair measured, all but one direct pair, or some of them, and a pair
// not measured left as it was.
TEST(Kernel, EveryKernelMeasuresTheSamePeaks) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), signal(-1.0f, 1.0f);
    constexpr int kFrames = 160;
    auto magnitudeBits = [](float x) {
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        return bits & 0x7FFFFFFFu;
    };
    for (int round = 0; round < 12; ++round) {
        float p[kNumParams];
        for (float& v : p) v = unit(rng) * 2.0f;
        MixGains g;
        computeGains(p, g);
        GainLanes lanes;
        for (int c = 0; c < kNumChannels; ++c) mixFramesPortableSpread(g, c, 0, kLanes, lanes);
        std::vector<std::vector<float>> in(kNumInputs, std::vector<float>(kFrames));
        for (auto& v : in)
            for (float& x : v) x = signal(rng) * (round % 3 == 0 ? 1e-3f : 1.0f);
        if (round % 4 == 1) in[rng() % kNumInputs][rng() % kFrames] = INFINITY;
        if (round % 4 == 2) in[rng() % kNumInputs][rng() % kFrames] = -NAN;
        if (round % 4 == 3) in[rng() % kNumInputs][rng() % kFrames] = -0.0f;
        const bool perFrame = round % 2 == 1;
        const int offset = round * 5 % 16, frames = perFrame ? 1 + round % kLanes : 1 + round * 29 % 140;
        for (const auto& info : kKernels) {
            if (!kernelRuns(info.isa)) continue;
            for (bool inPlace : {false, true})
                for (bool oneCall : {true, false}) {
                    SCOPED_TRACE(std::string(info.name) + (inPlace ? ", in place" : ", separate") +
                                 (oneCall ? ", one call" : ", frame by frame") + ", round " + std::to_string(round));
                    std::vector<std::vector<float>> out(kNumOutputs, std::vector<float>(kFrames));
                    std::vector<const float*> ip;
                    std::vector<float*> op;
                    for (auto& v : in) ip.push_back(v.data());
                    for (auto& v : out) op.push_back(v.data());
                    MeterPeaks peaks{};
                    constexpr uint32_t kAll = (1u << kNumPairs) - 1;
                    peaks.pairs = round % 3 == 0 ? kAll
                                  : round % 3 == 1 ? kAll & ~(1u << pairOf(directOutput(round % kNumChannels, kLeft)))
                                                   : 0x5A5A5u & kAll;
                    const MixKernel kernel = inPlace ? info.inPlace : info.separate;
                    const GainLanes* perLane = perFrame ? &lanes : nullptr;
                    if (oneCall)
                        kernel(ip.data(), op.data(), offset, frames, g, perLane, nullptr, nullptr, &peaks);
                    else
                        for (int i = offset; i < offset + frames; ++i)
                            kernel(ip.data(), op.data(), i, 1, g, perLane, nullptr, nullptr, &peaks);
                    for (int pair = 0; pair < kNumPairs; ++pair) {
                        uint32_t expected = 0;
                        if (((peaks.pairs >> pair) & 1u) != 0)
                            for (int i = offset; i < offset + frames; ++i)
                                expected = std::max({expected, magnitudeBits(out[2 * pair][i]), magnitudeBits(out[2 * pair + 1][i])});
                        ASSERT_EQ(peaks.peak[pair], expected) << "pair " << pair;
                    }
                }
        }
    }
}

// Gains that change within a group: every kernel, separate and in place,
// mixes frame j with lane j's gains, to the bit; and a kernel's spread sets
// exactly the lanes asked for.
TEST(Kernel, PerFrameLanesGiveTheSameBitsInEveryKernel) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), signal(-1.0f, 1.0f);
    for (int round = 0; round < 12; ++round) {
        // Sixteen frames, each channel's gains changing at a lane of its own.
        float p[kNumParams];
        for (float& v : p) v = unit(rng);
        MixGains before, after;
        computeGains(p, before);
        for (float& v : p) v = unit(rng);
        computeGains(p, after);
        const int offset = round * 5, frames = 1 + round % kLanes;
        std::vector<std::vector<float>> in(kNumInputs, std::vector<float>(96));
        for (auto& v : in)
            for (float& x : v) x = signal(rng);
        std::vector<const float*> ip;
        for (auto& v : in) ip.push_back(v.data());
        std::vector<std::vector<float>> reference;
        for (const auto& info : kKernels) {
            if (!kernelRuns(info.isa)) continue;
            SCOPED_TRACE(info.name);
            GainLanes lanes;
            int from[kNumChannels];
            for (int c = 0; c < kNumChannels; ++c) {
                from[c] = (c * 7 + round) % (kLanes + 1);
                info.spread(before, c, 0, kLanes, lanes);
                info.spread(after, c, from[c], kLanes, lanes);
            }
            for (int f = 0; f < kNumFeeds; ++f)
                for (int c = 0; c < kNumChannels; ++c)
                    for (int j = 0; j < kLanes; ++j)
                        ASSERT_EQ(lanes.gain[f][c][j], (j < from[c] ? before : after).feed[f][c]) << f << "," << c << "," << j;
            for (bool inPlace : {false, true}) {
                std::vector<std::vector<float>> out(kNumOutputs, std::vector<float>(96, -3.0f));
                std::vector<float*> op;
                for (auto& v : out) op.push_back(v.data());
                (inPlace ? info.inPlace : info.separate)(ip.data(), op.data(), offset, frames, before, &lanes, nullptr, nullptr, nullptr);
                for (int j = 0; j < frames; ++j)
                    ASSERT_NO_FATAL_FAILURE(expectMixedFrame(out, in, offset + j, [&](int c) -> const MixGains& {
                        return j < from[c] ? before : after;
                    }));
                EXPECT_EQ(out[0][offset + frames], -3.0f) << "written past the run";
                if (reference.empty()) reference = out;
                ASSERT_EQ(out, reference);
            }
        }
    }
}

TEST(Kernel, OverlapIsFoundWhereverTheBuffersMeet) {
    std::vector<float> arena(70 * 100);
    std::vector<const float*> in;
    std::vector<float*> out;
    for (int k = 0; k < 32; ++k) in.push_back(arena.data() + k * 100);
    for (int k = 0; k < 38; ++k) out.push_back(arena.data() + (32 + k) * 100);
    EXPECT_FALSE(buffersOverlap(in.data(), out.data(), 100));
    EXPECT_TRUE(buffersOverlap(in.data(), out.data(), 101)) << "input 31 runs into output 0";
    float* moved = out[20];  // interleaved pools, still apart
    out[20] = const_cast<float*>(in[5]);
    in[5] = moved;
    EXPECT_FALSE(buffersOverlap(in.data(), out.data(), 100));
    out[37] = const_cast<float*>(in[31]) + 99;  // one sample shared
    EXPECT_TRUE(buffersOverlap(in.data(), out.data(), 100));
    EXPECT_FALSE(buffersOverlap(in.data(), out.data(), 99)) << "past the frames used";
}

// computeGains works four channels at a time; each channel's gains must
// have the bits computeChannelGains gives it alone, for ordinary settings
// and for values far outside the ranges (pans past the ends, huge and
// negative levels that saturate), random or not.
TEST(Kernel, ChannelGainsMatchTheFullComputation) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), wide(-3.0f, 3.0f);
    const float extremes[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e30f, -1e30f, FLT_MAX, -FLT_MAX, 1e-30f, 3.5f, -2.0f};
    for (int set = 0; set < 40; ++set) {
        float p[kNumParams];
        for (int i = 0; i < kNumParams; ++i)
            p[i] = set == 0   ? static_cast<float>(i % 7) / 7.0f
                   : set < 10 ? unit(rng)
                   : set < 20 ? wide(rng)
                              : extremes[rng() % (sizeof extremes / sizeof extremes[0])];
        MixGains all, one;
        std::memset(&all, 0xAB, sizeof all);
        std::memset(&one, 0, sizeof one);
        computeGains(p, all);
        for (int c = 0; c < kNumChannels; ++c) computeChannelGains(p, c, one);
        EXPECT_EQ(std::memcmp(&all, &one, sizeof all), 0) << "parameter set " << set;
    }
}

}  // namespace
