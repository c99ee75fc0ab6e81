// Mixing through the record's replacing process call, compared with the
// worked examples and with the per-frame reference model.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#if defined(__SSE2__) || defined(__x86_64__)
#include <xmmintrin.h>
#define TARNVALE_TEST_FLOAT_STATE 1
#elif defined(__aarch64__)
#define TARNVALE_TEST_FLOAT_STATE 1
#endif
#include <cstdint>
#include <ostream>

#include "abi_fixture.h"
#include "support/reference_mixer.h"

namespace {

using abitest::Abi;
using vsthost::AudioBuffers;

// Bus sums may be added in any order and products grouped differently, so
// samples agree to within float rounding of the values summed.
void expectClose(float actual, float expected, const char* what, int output, int frame) {
    const float tolerance = 5e-5f + 2e-6f * std::fabs(expected);
    ASSERT_NEAR(actual, expected, tolerance) << what << ": output " << output << " frame " << frame;
}

TEST_F(Abi, DefaultsSumTheChannelsAndPassDirectOutputsThrough) {
    constexpr int kFrames = 37;
    AudioBuffers in(abitest::kInputs, kFrames), out(abitest::kOutputs, kFrames, 5.0f);
    for (int k = 0; k < abitest::kInputs; ++k)
        for (int i = 0; i < kFrames; ++i) in[k][i] = static_cast<float>(std::sin(0.1 * (k + 1) * (i + 1)));
    plugin->processReplacing(in.pointers(), out.pointers(), kFrames);
    for (int i = 0; i < kFrames; ++i) {
        float left = 0.0f, right = 0.0f;
        for (int c = 0; c < 16; ++c) {
            left += in[2 * c][i];
            right += in[2 * c + 1][i];
            ASSERT_EQ(out[6 + 2 * c][i], in[2 * c][i]);
            ASSERT_EQ(out[7 + 2 * c][i], in[2 * c + 1][i]);
        }
        expectClose(out[0][i], left, "main L", 0, i);
        expectClose(out[1][i], right, "main R", 1, i);
        for (int k = 2; k < 6; ++k) ASSERT_EQ(out[k][i], 0.0f);
    }
}

TEST_F(Abi, WorkedExampleAwayFromTheDefaults) {
    plugin->setParameter(0, 0.6f);   // Master Panpot
    plugin->setParameter(2, 0.5f);   // Master Send 1
    plugin->setParameter(12, 0.8f);  // Ch.03 Panpot
    plugin->setParameter(13, 0.5f);  // Ch.03 Volume
    plugin->setParameter(14, 0.3f);  // Ch.03 Send 1
    AudioBuffers in(abitest::kInputs, 1), out(abitest::kOutputs, 1, 9.0f);
    in[4][0] = 0.5f;
    in[5][0] = -0.25f;
    in[0][0] = 0.25f;
    in[1][0] = 0.125f;
    plugin->processReplacing(in.pointers(), out.pointers(), 1);
    const struct {
        int output;
        float value;
    } expected[] = {{0, 0.264f}, {1, -0.035f}, {2, 0.0768f}, {3, -0.192f}, {4, 0.0f},   {5, 0.0f},
                    {6, 0.2f},   {7, 0.125f},  {8, 0.0f},    {9, 0.0f},    {10, 0.064f}, {11, -0.16f}};
    for (const auto& e : expected) EXPECT_NEAR(out[e.output][0], e.value, 1e-6f) << "output " << e.output;
    for (int k = 12; k < abitest::kOutputs; ++k) EXPECT_EQ(out[k][0], 0.0f) << "output " << k;
}

TEST_F(Abi, ChannelAndMasterLevelsReachTheRightOutputs) {
    AudioBuffers in(abitest::kInputs, 4, 0.5f), out(abitest::kOutputs, 4);
    plugin->setParameter(9, 0.0f);        // Ch.02 Volume: main and direct silent
    plugin->setParameter(10, 0.78125f);   // Ch.02 Send 1 at unity, whatever the volume
    plugin->processReplacing(in.pointers(), out.pointers(), 4);
    EXPECT_EQ(out[8][0], 0.0f);
    EXPECT_EQ(out[9][0], 0.0f);
    EXPECT_FLOAT_EQ(out[2][0], 0.5f);
    EXPECT_FLOAT_EQ(out[3][0], 0.5f);
    EXPECT_FLOAT_EQ(out[0][0], 15 * 0.5f);

    plugin->setParameter(1, 0.0f);  // Master Volume silences main and direct outputs, not sends
    plugin->processReplacing(in.pointers(), out.pointers(), 4);
    EXPECT_EQ(out[0][3], 0.0f);
    EXPECT_EQ(out[1][3], 0.0f);
    for (int k = 6; k < abitest::kOutputs; ++k) EXPECT_EQ(out[k][3], 0.0f);
    EXPECT_FLOAT_EQ(out[2][3], 0.5f);
}

TEST_F(Abi, FrameCountsBelowOneTouchNothing) {
    AudioBuffers in(abitest::kInputs, 8, 1.0f), out(abitest::kOutputs, 8, 3.0f);
    vsthost::EventList events;
    events.controlChange(0, 0, 118, 0);
    plugin->processEvents(events);
    host.clearCalls();
    for (VstInt32 frames : {0, -1, -4096, -2147483647 - 1}) plugin->processReplacing(in.pointers(), out.pointers(), frames);
    for (int k = 0; k < abitest::kOutputs; ++k)
        for (int i = 0; i < 8; ++i) ASSERT_EQ(out[k][i], 3.0f);
    EXPECT_EQ(plugin->getParameter(1), 0.25f) << "no event applied";
    EXPECT_EQ(host.callCount(), 0u);
}

TEST_F(Abi, NullBuffersDoNothing) {
    AudioBuffers in(abitest::kInputs, 8, 1.0f), out(abitest::kOutputs, 8, 3.0f);
    plugin->processReplacing(nullptr, out.pointers(), 8);
    plugin->processReplacing(in.pointers(), nullptr, 8);
    plugin->processReplacing(nullptr, nullptr, 8);
    for (int k = 0; k < abitest::kOutputs; ++k) ASSERT_EQ(out[k][0], 3.0f);
    for (int missing : {0, 31}) {  // one input or output left out
        AudioBuffers inputs = in, outputs = out;
        inputs.alias(missing, nullptr);
        plugin->processReplacing(inputs.pointers(), out.pointers(), 8);
        outputs.alias(missing, nullptr);
        plugin->processReplacing(in.pointers(), outputs.pointers(), 8);
        for (int k = 0; k < abitest::kOutputs; ++k)
            if (k != missing) {
                ASSERT_EQ(outputs[k][7], 3.0f) << "output " << k;
            }
    }
    for (int k = 0; k < abitest::kOutputs; ++k) ASSERT_EQ(out[k][7], 3.0f);
}

void randomSettings(std::mt19937& rng, vsthost::Plugin& plugin, reference::Mixer& model) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::bernoulli_distribution change(0.6);
    for (int index = 0; index < abitest::kParams; ++index)
        if (change(rng)) {
            const float v = unit(rng);
            plugin.setParameter(index, v);
            model.params[index] = v;
        }
}

// Randomized settings, block sizes from 1 to 4096 frames, in-place and
// out-of-place, pre-filled outputs: every sample matches the model.
TEST_F(Abi, MatchesThePerFrameModelOnRandomSettingsAndBlocks) {
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    std::uniform_int_distribution<int> blockSize(1, 4096);
    reference::Mixer model;
    for (int round = 0; round < 40; ++round) {
        randomSettings(rng, *plugin, model);
        const int frames = round < 4 ? (round == 0 ? 1 : round == 1 ? 4096 : round == 2 ? 31 : 33) : blockSize(rng);
        AudioBuffers in(abitest::kInputs, frames), expected(abitest::kOutputs, frames);
        for (int k = 0; k < abitest::kInputs; ++k)
            for (int i = 0; i < frames; ++i) in[k][i] = signal(rng);
        model.process(in.pointers(), expected.pointers(), frames);

        const bool inPlace = round % 3 == 1;
        AudioBuffers out(abitest::kOutputs, frames, 1e30f);
        AudioBuffers work = in;  // in-place runs overwrite their inputs
        if (inPlace)
            for (int k = 0; k < abitest::kInputs; ++k) out.alias(k, work[k]);  // outputs 0..31 over inputs 0..31
        plugin->processReplacing(work.pointers(), out.pointers(), frames);
        for (int k = 0; k < abitest::kOutputs; ++k)
            for (int i = 0; i < frames; ++i) {
                const float actual = out.pointers()[k][i];
                expectClose(actual, expected[k][i], inPlace ? "in place" : "separate", k, i);
            }
        if (!inPlace) {
            for (int k = 0; k < abitest::kInputs; ++k)
                for (int i = 0; i < frames; ++i) ASSERT_EQ(work[k][i], in[k][i]) << "input written";
        }
    }
}

TEST_F(Abi, DirectOutputOverItsOwnInputEqualsSeparateBuffers) {
    plugin->setParameter(4, 0.2f);
    plugin->setParameter(5, 0.6f);
    AudioBuffers in(abitest::kInputs, 100), out(abitest::kOutputs, 100);
    for (int k = 0; k < abitest::kInputs; ++k)
        for (int i = 0; i < 100; ++i) in[k][i] = static_cast<float>((k - 16) * 0.03 + i * 0.001);
    plugin->processReplacing(in.pointers(), out.pointers(), 100);
    AudioBuffers shared = in;
    AudioBuffers out2(abitest::kOutputs, 100);
    out2.alias(6, shared[0]);
    plugin->processReplacing(shared.pointers(), out2.pointers(), 100);
    for (int k = 0; k < abitest::kOutputs; ++k)
        for (int i = 0; i < 100; ++i) ASSERT_EQ(out2.pointers()[k][i], out[k][i]) << k << "," << i;
}

// Every parameter set to NaN or an infinity in turn mixes exactly as its
// default does, and reads back as given.
TEST_F(Abi, NonFiniteParameterValuesMixAsTheirDefaults) {
    constexpr int kFrames = 48;
    std::mt19937 rng(48);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    AudioBuffers in(abitest::kInputs, kFrames), expected(abitest::kOutputs, kFrames), out(abitest::kOutputs, kFrames);
    for (int k = 0; k < abitest::kInputs; ++k)
        for (int i = 0; i < kFrames; ++i) in[k][i] = signal(rng);
    plugin->processReplacing(in.pointers(), expected.pointers(), kFrames);
    for (const float bad : {std::nanf(""), INFINITY, -INFINITY})
        for (int index = 0; index < abitest::kParams; ++index) {
            const float before = plugin->getParameter(index);
            plugin->setParameter(index, bad);
            const float kept = plugin->getParameter(index);
            ASSERT_EQ(std::memcmp(&kept, &bad, sizeof bad), 0) << "parameter " << index;
            plugin->processReplacing(in.pointers(), out.pointers(), kFrames);
            for (int k = 0; k < abitest::kOutputs; ++k)
                ASSERT_EQ(std::memcmp(out[k], expected[k], sizeof(float) * kFrames), 0)
                    << "parameter " << index << " = " << bad << ", output " << k;
            plugin->setParameter(index, before);
        }
    EXPECT_EQ(plugin->parameterDisplay(0).substr(0, 3), "0.0") << "the defaults are back";
}

// However large a finite value a host sets, the gains stay finite: silence
// in gives exact silence out, on every output, for each value on every
// parameter in turn and on all of them at once.
TEST_F(Abi, HugeFiniteParameterValuesKeepSilenceSilent) {
    constexpr int kFrames = 40;
    AudioBuffers silence(abitest::kInputs, kFrames), out(abitest::kOutputs, kFrames);
    auto expectSilence = [&](const char* what, float value) {
        plugin->processReplacing(silence.pointers(), out.pointers(), kFrames);
        for (int k = 0; k < abitest::kOutputs; ++k)
            for (int i = 0; i < kFrames; ++i)
                ASSERT_EQ(out[k][i], 0.0f) << what << " = " << value << ", output " << k << " frame " << i;
    };
    for (const float huge : {3e38f, -3e38f, FLT_MAX, -FLT_MAX, 1e30f}) {
        for (int index = 0; index < abitest::kParams; ++index) {
            const float before = plugin->getParameter(index);
            plugin->setParameter(index, huge);
            expectSilence(plugin->parameterName(index).c_str(), huge);
            if (HasFatalFailure()) return;
            plugin->setParameter(index, before);
        }
        for (int index = 0; index < abitest::kParams; ++index) plugin->setParameter(index, huge);
        expectSilence("every parameter", huge);
        if (HasFatalFailure()) return;
        for (int index = 0; index < abitest::kParams; ++index) plugin->setParameter(index, index % 4 == 0 ? 0.5f : 0.25f);
    }
}

#if defined(TARNVALE_TEST_FLOAT_STATE)
// A caller's floating-point state: MXCSR on x86 (controls and flags in one
// register); FPCR (controls) and FPSR (flags) on ARM.
struct FloatState {
    uint64_t control, flags;
    bool operator==(const FloatState& o) const { return control == o.control && flags == o.flags; }
};
std::ostream& operator<<(std::ostream& os, const FloatState& s) {
    return os << std::hex << "control 0x" << s.control << ", flags 0x" << s.flags << std::dec;
}
#if defined(__aarch64__)
FloatState readFloatState() {
    FloatState s;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(s.control)::"memory");
    __asm__ __volatile__("mrs %0, fpsr" : "=r"(s.flags)::"memory");
    return s;
}
void writeFloatState(const FloatState& s) {
    __asm__ __volatile__("msr fpcr, %0" ::"r"(s.control) : "memory");
    __asm__ __volatile__("msr fpsr, %0" ::"r"(s.flags) : "memory");
}
constexpr FloatState kDefaultFloatState{0, 0};  // round to nearest, nothing flushed or trapped, no flag raised
// What every processor keeps of a state written: all but the trap enables.
constexpr FloatState kKept{(uint64_t{0xF} << 22), 0x9F};
constexpr uint64_t kFlushToZero = uint64_t{1} << 24, kRoundTowardZero = uint64_t{3} << 22,
                   kRoundDown = uint64_t{2} << 22, kDefaultNan = uint64_t{1} << 25, kAlternativeHalf = uint64_t{1} << 26,
                   kTrapDivideByZero = uint64_t{1} << 9, kEveryFlag = 0x9F;
const struct {
    const char* what;
    FloatState state;
} kCallers[] = {
    {"defaults", kDefaultFloatState},
    {"flush-to-zero already on", {kFlushToZero, 0}},
    {"rounding toward zero", {kRoundTowardZero, 0}},
    {"rounding down, flags already raised", {kRoundDown, kEveryFlag}},
    {"default NaN and alternative half precision", {kDefaultNan | kAlternativeHalf | kFlushToZero, 0}},
    // Most processors (and emulators) do not trap: the bit then reads as 0.
    {"divide-by-zero trapped", {kTrapDivideByZero, 0}},
};
#else
FloatState readFloatState() { return {_mm_getcsr(), 0}; }
void writeFloatState(const FloatState& s) { _mm_setcsr(static_cast<unsigned>(s.control)); }
constexpr FloatState kDefaultFloatState{0x1F80, 0};  // all exceptions masked, round to nearest
const struct {
    const char* what;
    FloatState state;
} kCallers[] = {
    {"defaults", kDefaultFloatState},
    {"flush-to-zero and denormals-are-zero already on", {0x1F80 | 0x8040, 0}},
    {"rounding toward zero", {0x1F80 | 0x6000, 0}},
    {"rounding down, flags already raised", {0x1F80 | 0x2000 | 0x3F, 0}},
    {"divide-by-zero unmasked", {0x1F80 & ~0x0200u, 0}},
};
constexpr FloatState kKept{0xFFFF, 0};
#endif

// Whatever floating-point state the caller runs with, the process call gives
// it back unchanged, on every path, and mixes with the same bits.
TEST_F(Abi, ProcessingLeavesTheCallersFloatingPointStateAsItWas) {
    constexpr int kFrames = 40;
    std::mt19937 rng(40);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    AudioBuffers in(abitest::kInputs, kFrames), reference(abitest::kOutputs, kFrames), out(abitest::kOutputs, kFrames);
    for (int k = 0; k < abitest::kInputs; ++k)
        for (int i = 0; i < kFrames; ++i) in[k][i] = signal(rng) / 3.0f;
    plugin->setParameter(5, 0.3f);
    plugin->processReplacing(in.pointers(), reference.pointers(), kFrames);

    AudioBuffers missing(abitest::kOutputs, kFrames);
    missing.alias(20, nullptr);
    for (const auto& caller : kCallers) {
        const struct {
            const char* path;
            float** inputs;
            float** outputs;
            VstInt32 frames;
        } paths[] = {
            {"a block", in.pointers(), out.pointers(), kFrames},
            {"no frames", in.pointers(), out.pointers(), 0},
            {"negative frames", in.pointers(), out.pointers(), -5},
            {"no input array", nullptr, out.pointers(), kFrames},
            {"a missing output buffer", in.pointers(), missing.pointers(), kFrames},
        };
        for (const auto& path : paths) {
            const FloatState saved = readFloatState();
            writeFloatState(caller.state);
            const FloatState before = readFloatState();  // what this processor keeps of it
            plugin->processReplacing(path.inputs, path.outputs, path.frames);
            const FloatState after = readFloatState();
            writeFloatState(saved);
            EXPECT_EQ(before.control & kKept.control, caller.state.control & kKept.control) << caller.what;
            EXPECT_EQ(before.flags & kKept.flags, caller.state.flags & kKept.flags) << caller.what;
            EXPECT_EQ(after, before) << caller.what << ", " << path.path;
        }
        for (int k = 0; k < abitest::kOutputs; ++k)
            ASSERT_EQ(std::memcmp(out[k], reference[k], sizeof(float) * kFrames), 0) << caller.what << ", output " << k;
    }
}

// Samples below the normal range (tails, fades) come out as exact zeros,
// even for a caller that leaves denormals on; ordinary samples keep every bit.
TEST_F(Abi, SubnormalInputGivesExactZeros) {
    constexpr int kFrames = 64;
    std::mt19937 rng(64);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    for (int index = 0; index < abitest::kParams; ++index) plugin->setParameter(index, 0.5f + 0.4f * signal(rng));
    vsthost::EventList events;
    for (int f = 0; f < kFrames; ++f) events.controlChange(f, 0, static_cast<uint8_t>(14 + f % 100), 64);
    plugin->processEvents(events);
    AudioBuffers in(abitest::kInputs, kFrames), out(abitest::kOutputs, kFrames, 1.0f);
    for (int k = 0; k < abitest::kInputs; ++k)
        for (int i = 0; i < kFrames; ++i) in[k][i] = signal(rng) * 1e-39f;
    const FloatState saved = readFloatState();
    writeFloatState(kDefaultFloatState);
    plugin->processReplacing(in.pointers(), out.pointers(), kFrames);
    writeFloatState(saved);
    for (int k = 0; k < abitest::kOutputs; ++k)
        for (int i = 0; i < kFrames; ++i) ASSERT_EQ(out[k][i], 0.0f) << "output " << k << " frame " << i;
}
#endif

}  // namespace
