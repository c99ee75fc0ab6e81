// The meters against libebur128 and against a finely oversampled reference,
// the JSON text of arbitrary bytes, and output names from pin labels.
#include <ebur128.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <vector>

#include "file_samples.h"
#include "json_text.h"
#include "measure.h"
#include "output_names.h"

namespace {

constexpr int kRate = 48000;

double db(double linear) { return 20.0 * std::log10(linear); }

using Signal = std::vector<float>;

Signal make(size_t n, const std::function<double(size_t)>& f) {
    Signal s(n);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<float>(f(i));
    return s;
}

// Smooth ends, so a steady tone's peak is its amplitude.
Signal faded(Signal s, size_t fade) {
    for (size_t i = 0; i < fade; ++i) {
        const float g = static_cast<float>(0.5 - 0.5 * std::cos(M_PI * static_cast<double>(i) / static_cast<double>(fade)));
        s[i] *= g;
        s[s.size() - 1 - i] *= g;
    }
    return s;
}

double ourTruePeak(const Signal& s, size_t call = 1000) {
    tools::LevelMeter meter(static_cast<int64_t>(s.size()), tools::FileSamples(SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    for (size_t at = 0; at < s.size(); at += call) {
        const size_t n = std::min(call, s.size() - at);
        meter.add(s.data() + at, s.data() + at, n);
    }
    meter.finish();
    return meter.truePeak();
}

double libraryTruePeak(const Signal& s) {
    ebur128_state* st = ebur128_init(1, kRate, EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_float(st, s.data(), s.size());
    double peak = 0.0;
    ebur128_true_peak(st, 0, &peak);
    ebur128_destroy(&st);
    return peak;
}

// The signal's band-limited peak, 64 points a sample, by a windowed sinc
// 256 samples long, over samples [from, to).
double referencePeak(const Signal& s, size_t from, size_t to) {
    constexpr int kHalf = 128, kPoints = 64;
    double best = 0.0;
    for (size_t n = from; n < to; ++n)
        for (int p = 0; p < kPoints; ++p) {
            const double t = static_cast<double>(n) + static_cast<double>(p) / kPoints;
            double sum = 0.0;
            for (long k = static_cast<long>(n) - kHalf + 1; k <= static_cast<long>(n) + kHalf; ++k) {
                if (k < 0 || k >= static_cast<long>(s.size())) continue;
                const double u = t - static_cast<double>(k);
                const double sinc = u == 0.0 ? 1.0 : std::sin(M_PI * u) / (M_PI * u);
                const double w = 0.5 + 0.5 * std::cos(M_PI * u / kHalf);
                sum += s[static_cast<size_t>(k)] * sinc * w;
            }
            best = std::max(best, std::fabs(sum));
        }
    return best;
}

// Our true peak agrees with libebur128's within 0.1 dB where libebur128's
// interpolator is accurate.
TEST(TruePeak, AgreesWithTheLoudnessLibrary) {
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 0.1);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    // Noise below 10 kHz, where libebur128's interpolator is accurate: 200
    // components at random frequencies and phases.
    std::vector<std::pair<double, double>> components(200);
    for (auto& c : components) c = {10000.0 * uniform(random), 2 * M_PI * uniform(random)};
    const struct {
        const char* what;
        Signal signal;
        double aboveSamplePeakDb;  // what the true peak should show over the sample peak, if known
    } cases[] = {
        {"a sine at a quarter of the rate, 45 degrees",
         faded(make(kRate, [](size_t i) { return 0.5 * std::sin(M_PI / 2 * i + M_PI / 4); }), 2400), 3.01},
        {"noise below 10 kHz", make(kRate / 2, [&](size_t i) {
             double v = 0.0;
             for (const auto& c : components) v += 0.02 * std::sin(2 * M_PI * c.first * i / kRate + c.second);
             return v;
         }), -1},
        {"music-like: a chord with an envelope and noise", make(2 * kRate, [&](size_t i) {
             const double t = static_cast<double>(i) / kRate;
             const double env = std::exp(-3.0 * std::fmod(t, 0.5));
             return env * (0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t) +
                           0.15 * std::sin(2 * M_PI * 329.6 * t) + 0.1 * std::sin(2 * M_PI * 3000 * t)) +
                    0.2 * gauss(random);
         }), -1},
        {"a 1 kHz tone", faded(make(kRate, [](size_t i) { return 0.7 * std::sin(2 * M_PI * 1000 * i / kRate + 0.3); }), 2400), -1},
    };
    for (const auto& c : cases) {
        const double ours = ourTruePeak(c.signal), theirs = libraryTruePeak(c.signal);
        EXPECT_NEAR(db(ours), db(theirs), 0.1) << c.what;
        if (c.aboveSamplePeakDb > 0) {
            float sample = 0.0f;
            for (float v : c.signal) sample = std::max(sample, std::fabs(v));
            EXPECT_NEAR(db(ours) - db(sample), c.aboveSamplePeakDb, 0.05) << c.what;
        }
    }
    EXPECT_EQ(ourTruePeak(Signal(10000, 0.0f)), 0.0) << "silence";
}

// Noise over the whole band, up to half the rate: no interpolator of finite
// length follows it to the band edge, but ours stays within 0.1 dB of the
// fine reference or comes closer to it than libebur128's, and never reads
// more than 0.1 dB above it.
TEST(TruePeak, FullBandNoiseAgainstTheReference) {
    std::mt19937 random(11);
    std::normal_distribution<double> gauss(0.0, 0.1);
    double b0 = 0, b1 = 0, b2 = 0;
    const struct {
        const char* what;
        Signal signal;
    } cases[] = {
        {"white noise", faded(make(2400, [&](size_t) { return gauss(random); }), 300)},
        {"pink noise", faded(make(2400, [&](size_t) {
             const double w = gauss(random);
             b0 = 0.99765 * b0 + w * 0.0990460;
             b1 = 0.96300 * b1 + w * 0.2965164;
             b2 = 0.57000 * b2 + w * 1.0526913;
             return 0.3 * (b0 + b1 + b2 + w * 0.1848);
         }), 300)},
    };
    for (const auto& c : cases) {
        const double reference = db(referencePeak(c.signal, 0, c.signal.size()));
        const double ours = db(ourTruePeak(c.signal)), library = db(libraryTruePeak(c.signal));
        EXPECT_LE(std::fabs(ours - reference), std::max(0.1, std::fabs(library - reference))) << c.what;
        EXPECT_LE(ours, reference + 0.1) << c.what;
        std::printf("figure: true peak of %s against the reference (dB): ours %+.3f, libebur128 %+.3f\n", c.what,
                    ours - reference, library - reference);
    }
}

// Near the band edge our true peak agrees with a fine reference within
// 0.1 dB, where libebur128 reads low.
TEST(TruePeak, TonesNearTheBandEdgeReadTheirPeak) {
    double worstOurs = 0.0, worstLibrary = 0.0;
    for (double hz : {15000.0, 16500.0, 18000.0, 19000.0, 20000.0})
        for (double phase : {0.0, 0.7, 1.9}) {
            const Signal tone = faded(make(kRate / 4, [&](size_t i) { return 0.5 * std::sin(2 * M_PI * hz * i / kRate + phase); }), 2000);
            const double reference = referencePeak(tone, tone.size() / 2, tone.size() / 2 + 48);
            const double ours = db(ourTruePeak(tone)) - db(reference);
            const double library = db(libraryTruePeak(tone)) - db(reference);
            EXPECT_NEAR(ours, 0.0, 0.1) << hz << " Hz, phase " << phase;
            worstOurs = std::max(worstOurs, std::fabs(ours));
            worstLibrary = std::max(worstLibrary, std::fabs(library));
        }
    std::printf("figure: true peak of tones at 15 to 20 kHz, worst difference from the reference (dB): ours %.3f, "
                "libebur128 %.3f\n", worstOurs, worstLibrary);
}

// The same figures however the samples are split into calls.
TEST(TruePeak, TheSameForAnySplitOfTheSamples) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> u(-0.9, 0.9);
    const Signal noise = make(30011, [&](size_t) { return u(random); });
    const double whole = ourTruePeak(noise, noise.size());
    for (size_t call : {1u, 7u, 512u, 4096u, 4097u}) EXPECT_EQ(ourTruePeak(noise, call), whole) << call;
}

// A piece of the signal too quiet to raise the peak is not interpolated;
// one whose samples are lower than the peak so far but whose in-between
// points rise above it still counts. The highest such piece: signs that
// follow the half-sample phase's coefficients, so that every tap adds.
TEST(TruePeak, AQuietPieceWithAHighInBetweenPointCounts) {
    constexpr size_t kAt = 3 * tools::TruePeakMeter::kPiece + 100;  // in the fourth piece
    Signal pattern(kAt + 200, 0.0f);
    for (int j = 0; j < tools::TruePeakMeter::kTaps; ++j) {
        const double u = 0.5 - (j - (tools::TruePeakMeter::kTaps / 2 - 1));
        pattern[kAt + static_cast<size_t>(j)] = std::sin(M_PI * u) / u > 0.0 ? 0.5f : -0.5f;
    }
    auto truePeak = [](const Signal& s) {
        tools::TruePeakMeter meter;
        meter.add(s.data(), s.size());
        meter.finish();
        return meter.peak();
    };
    const double alone = truePeak(pattern);
    ASSERT_GT(alone, 0.6) << "the in-between points rise well above the samples";
    for (double before : {0.5, 0.8, 0.97}) {
        // A smooth swell to just under that peak, over before the pattern's piece.
        Signal s = pattern;
        const size_t swell = 2 * tools::TruePeakMeter::kPiece;
        for (size_t i = 0; i < swell; ++i)
            s[i] = static_cast<float>(before * alone * 0.5 * (1.0 - std::cos(2.0 * M_PI * static_cast<double>(i) / swell)));
        EXPECT_EQ(truePeak(s), alone) << "after a swell to " << before << " of it";
    }
}

// A sample that is not a finite number is counted and measured as full
// scale, as the file holds it: a float file keeps +-1 exactly, a 16-bit
// file's +1 is one step below; neither counts it as clipped.
TEST(LevelMeter, NonFiniteSamplesAreCountedAndMeasuredAsFullScale) {
    Signal left(1000, 0.0f), right(1000, 0.0f);
    left[10] = NAN;
    left[20] = -INFINITY;
    right[30] = INFINITY;
    const double top16 = 32767.0 / 32768.0;
    const struct {
        int format;
        double top;  // what the file holds for +1
    } cases[] = {{SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1.0}, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, top16}};
    for (const auto& c : cases) {
        tools::LevelMeter meter(1000, tools::FileSamples(c.format));
        meter.add(left.data(), right.data(), 1000);
        meter.finish();
        EXPECT_EQ(meter.nonFinite(), 3u);
        EXPECT_EQ(meter.peak(), 1.0) << "minus infinity is -1 in both";
        EXPECT_EQ(meter.clipped(), 0u);
        EXPECT_NEAR(meter.rms(), std::sqrt((2.0 * c.top * c.top + 1.0) / 2000.0), 1e-12) << c.format;
    }
    EXPECT_EQ(tools::countNonFinite(left.data(), left.size()), 2u);
}

// What 16- and 24-bit files hold: the nearest step, ties to the even one,
// clipped at -1 and one step below +1; each clipped sample counted once.
TEST(FileSamples, NearestStepWithinTheRange) {
    const float s16 = 1.0f / 32768.0f, s24 = 1.0f / 8388608.0f;
    const struct {
        int subtype;
        float given, held;
        bool clipped;
    } cases[] = {
        {SF_FORMAT_PCM_16, 0.0f, 0.0f, false},
        {SF_FORMAT_PCM_16, 0.5f * s16, 0.0f, false},           // a tie: to the even step
        {SF_FORMAT_PCM_16, 1.5f * s16, 2.0f * s16, false},     // a tie: to the even step
        {SF_FORMAT_PCM_16, 0.49f * s16, 0.0f, false},
        {SF_FORMAT_PCM_16, -0.51f * s16, -s16, false},
        {SF_FORMAT_PCM_16, 1.0f - s16, 1.0f - s16, false},
        {SF_FORMAT_PCM_16, 1.0f - 0.6f * s16, 1.0f - s16, false},  // rounds within the range
        {SF_FORMAT_PCM_16, 1.0f - 0.4f * s16, 1.0f - s16, true},   // rounds to +1, beyond it
        {SF_FORMAT_PCM_16, 1.0f, 1.0f - s16, true},
        {SF_FORMAT_PCM_16, 8.0f, 1.0f - s16, true},
        {SF_FORMAT_PCM_16, -1.0f, -1.0f, false},
        {SF_FORMAT_PCM_16, -1.0f - 0.4f * s16, -1.0f, false},
        {SF_FORMAT_PCM_16, -1.0f - 0.6f * s16, -1.0f, true},
        {SF_FORMAT_PCM_16, -1e30f, -1.0f, true},
        {SF_FORMAT_PCM_24, 0.25f + 0.5f * s24, 0.25f, false},
        {SF_FORMAT_PCM_24, 0.25f + 1.5f * s24, 0.25f + 2.0f * s24, false},
        {SF_FORMAT_PCM_24, 1.0f, 1.0f - s24, true},
        {SF_FORMAT_PCM_24, -1.0f, -1.0f, false},
        {SF_FORMAT_FLOAT, 8.0f, 8.0f, false},
        {SF_FORMAT_FLOAT, 0.3f, 0.3f, false},
    };
    for (const auto& c : cases) {
        const tools::FileSamples file(SF_FORMAT_WAV | c.subtype);
        // Alone, and among others in a call long enough for vector lanes.
        float held = -7.0f;
        EXPECT_EQ(file.hold(&c.given, &held, 1), c.clipped ? 1u : 0u) << c.given;
        EXPECT_EQ(held, c.held) << c.subtype << " " << c.given;
        std::vector<float> many(37, c.given), out(37);
        many[5] = 0.0f;
        EXPECT_EQ(file.hold(many.data(), out.data(), many.size()), c.clipped ? 36u : 0u) << c.given;
        EXPECT_EQ(out[36], c.held) << c.given;
        // The same when the caller vouches that all are finite.
        std::fill(out.begin(), out.end(), -7.0f);
        EXPECT_EQ(file.hold(many.data(), out.data(), many.size(), true), c.clipped ? 36u : 0u) << c.given;
        EXPECT_EQ(out[36], c.held) << c.given;
        if (!file.quantizes()) continue;
        // Both sides in one pass: the same steps and counts in vector lanes
        // and in the tail; none held once a sample is not finite, wherever it lies.
        std::vector<float> other(37, -c.given), outLeft(37, -7.0f), outRight(37, -7.0f), heldOther(37);
        uint64_t clipped = 99;
        std::vector<int32_t> words(2 * 37, 7), expectedWords(2 * 37);
        ASSERT_TRUE(file.holdFinite(many.data(), other.data(), outLeft.data(), outRight.data(), 37, clipped, words.data()))
            << c.given;
        const uint64_t expected = file.hold(many.data(), out.data(), 37) + file.hold(other.data(), heldOther.data(), 37);
        EXPECT_EQ(clipped, expected) << c.given;
        EXPECT_EQ(outLeft, out) << c.given;
        EXPECT_EQ(outRight, heldOther) << c.given;
        file.words(out.data(), heldOther.data(), expectedWords.data(), 37);
        EXPECT_EQ(words, expectedWords) << c.given;
        for (size_t at : {3u, 20u, 36u})
            for (float bad : {NAN, INFINITY, -INFINITY}) {
                std::vector<float> spoilt = other;
                spoilt[at] = bad;
                EXPECT_FALSE(file.holdFinite(many.data(), spoilt.data(), outLeft.data(), outRight.data(), 37, clipped))
                    << at << " " << bad;
                EXPECT_FALSE(file.holdFinite(spoilt.data(), many.data(), outLeft.data(), outRight.data(), 37, clipped))
                    << at << " " << bad;
            }
    }
}

// The words a 16- or 24-bit file is handed: each held sample's step in the
// top bits, both sides interleaved.
TEST(FileSamples, WordsAreTheStepsInTheTopBits) {
    const struct {
        int subtype;
        float left, right;  // held samples
        int32_t wordLeft, wordRight;
    } cases[] = {
        {SF_FORMAT_PCM_16, 0.0f, -1.0f, 0, INT32_MIN},
        {SF_FORMAT_PCM_16, 32767.0f / 32768.0f, -1.0f / 32768.0f, 32767 * 65536, -65536},
        {SF_FORMAT_PCM_24, 8388607.0f / 8388608.0f, 3.0f / 8388608.0f, 8388607 * 256, 3 * 256},
        {SF_FORMAT_PCM_24, -0.0f, -8388607.0f / 8388608.0f, 0, -8388607 * 256},
    };
    for (const auto& c : cases) {
        const tools::FileSamples file(SF_FORMAT_WAV | c.subtype);
        // Alone, and at the end of a call long enough for vector lanes.
        std::vector<float> left(37, c.left), right(37, c.right);
        std::vector<int32_t> words(2 * 37, 7);
        file.words(left.data(), right.data(), words.data(), 37);
        EXPECT_EQ(words[0], c.wordLeft) << c.left;
        EXPECT_EQ(words[1], c.wordRight) << c.right;
        EXPECT_EQ(words[72], c.wordLeft) << c.left;
        EXPECT_EQ(words[73], c.wordRight) << c.right;
    }
}

// Loudness of what a 24-bit file holds, given as words or as floats, in
// calls of any length, with silence before, after or instead of a sound:
// always libebur128's figures for all the frames given at once.
TEST(LoudnessMeter, AsLibebur128GivenEveryFrame) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.1);
    const struct {
        const char* name;
        size_t before, sound, after;  // frames
    } cases[] = {
        {"silent throughout", 5 * kRate, 0, 0},
        {"silence, then a sound", 3 * kRate + 17, 6 * kRate, 0},
        {"a sound, then silence", 0, 5 * kRate, 4 * kRate},
        {"silence, one frame of sound, silence", 2 * kRate, 1, 3 * kRate},
        {"silence, a sound, silence", kRate / 3, 7 * kRate, kRate},
    };
    for (const auto& c : cases) {
        const size_t n = c.before + c.sound + c.after;
        std::vector<float> frames(2 * n, 0.0f);
        for (size_t i = c.before; i < c.before + c.sound; ++i) {
            const double swell = 0.2 + 0.8 * std::fabs(std::sin(static_cast<double>(i) / kRate));
            for (int side = 0; side < 2; ++side)
                frames[2 * i + side] = static_cast<float>(std::nearbyint(swell * noise(random) * 8388608.0) / 8388608.0);
        }
        frames[0] = -0.0f;  // silence of either sign
        std::vector<int32_t> words(2 * n);
        for (size_t i = 0; i < 2 * n; ++i) words[i] = static_cast<int32_t>(frames[i] * 2147483648.0f);

        ebur128_state* st = ebur128_init(2, kRate, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM);
        ebur128_add_frames_float(st, frames.data(), n);
        double lufs = 0.0, lra = 0.0;
        ebur128_loudness_global(st, &lufs);
        ebur128_loudness_range(st, &lra);
        ebur128_destroy(&st);

        for (size_t call : {size_t{1000}, size_t{4096}, size_t{8192}}) {
            tools::LoudnessMeter asWords(kRate), asFloats(kRate);
            for (size_t at = 0; at < n; at += call) {
                const size_t take = std::min(call, n - at);
                asWords.add(words.data() + 2 * at, take);
                asFloats.add(frames.data() + 2 * at, take);
            }
            asWords.finish();
            asFloats.finish();
            EXPECT_EQ(asWords.lufs(), lufs) << c.name << ", calls of " << call;
            EXPECT_EQ(asWords.lra(), lra) << c.name << ", calls of " << call;
            EXPECT_EQ(asFloats.lufs(), lufs) << c.name << ", calls of " << call;
            EXPECT_EQ(asFloats.lra(), lra) << c.name << ", calls of " << call;
        }
        if (c.sound == 0) EXPECT_EQ(lufs, -HUGE_VAL) << "silence measures no loudness";
        else EXPECT_TRUE(std::isfinite(lufs)) << c.name << ": the sound is measured";
    }
}

TEST(JsonText, KeepsUtf8AndEscapesEveryOtherByte) {
    const struct {
        std::string bytes, text;
    } cases[] = {
        {"plain/path.wav", "plain/path.wav"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"},
        {"back\\slash", "back\\\\slash"},
        {"bad\xff", "bad\\xFF"},
        {"\x80lead", "\\x80lead"},
        {"over-long \xc0\xaf", "over-long \\xC0\\xAF"},
        {"surrogate \xed\xa0\x80", "surrogate \\xED\\xA0\\x80"},
        {"cut short \xe2\x82", "cut short \\xE2\\x82"},
        {"past U+10FFFF \xf4\x90\x80\x80", "past U+10FFFF \\xF4\\x90\\x80\\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tools::jsonText(c.bytes), c.text) << c.bytes;
        EXPECT_NO_THROW((void)nlohmann::json(tools::jsonText(c.bytes)).dump()) << c.bytes;
    }
}

TEST(OutputNames, TheWordsBothLabelsShare) {
    const struct {
        const char *left, *right, *name;
    } cases[] = {
        {"Send 1 L", "Send 1 R", "send1"}, {"Ch.01 L", "Ch.01 R", "ch01"}, {"01-1 Ch.01 L", "01-2 Ch.01 R", "ch01"},
        {"Left", "Right", ""},             {"Aux Out L", "Aux Out R", "auxout"}, {"FX Return", "FX Return Right", "fxreturn"},
    };
    for (const auto& c : cases) EXPECT_EQ(tools::nameFromLabels(c.left, c.right), c.name) << c.left;
}

}  // namespace
