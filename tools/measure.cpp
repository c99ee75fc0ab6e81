#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tools {

namespace {

// Whether the bits are NaN or an infinity: all exponent bits set. Tested on
// the bits, so no compiler setting can assume it away.
inline bool nonFiniteBits(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x7F800000u) == 0x7F800000u;
}

inline float fullScale(float v) { return v < 0.0f ? -1.0f : 1.0f; }

// The hot loops are built for the processor at hand as well as for the
// baseline, and the widest the processor runs is taken.
// ThreadSanitizer cannot run the resolver that picks a clone (it runs
// before the sanitizer is set up), so its builds take the baseline.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_THREAD__)
#define TARNVALE_WIDEST __attribute__((target_clones("avx512f", "arch=x86-64-v3", "default")))
#else
#define TARNVALE_WIDEST
#endif

constexpr size_t kLanes = 16;
typedef float Vec __attribute__((vector_size(kLanes * sizeof(float))));
typedef int32_t IntVec __attribute__((vector_size(kLanes * sizeof(float))));

inline Vec load(const float* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline Vec magnitude(Vec v) { return reinterpret_cast<Vec>(reinterpret_cast<IntVec>(v) & 0x7FFFFFFF); }
inline Vec larger(Vec a, Vec b) { return a > b ? a : b; }

// One run of finite frames: each side's peak and the sum of squares.
// Squares are summed in single precision within the run (at most a block
// of the render), in double across runs.
struct RunFigures {
    float peak[2];
    double squares;
};

TARNVALE_WIDEST
RunFigures runFigures(const float* left, const float* right, size_t n) {
    Vec peakLeft = {}, peakRight = {}, squares = {};
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const Vec l = magnitude(load(left + i)), r = magnitude(load(right + i));
        peakLeft = larger(peakLeft, l);
        peakRight = larger(peakRight, r);
        squares += l * l + r * r;
    }
    RunFigures f{{0.0f, 0.0f}, 0.0};
    for (size_t k = 0; k < kLanes; ++k) {
        f.peak[0] = std::max(f.peak[0], peakLeft[k]);
        f.peak[1] = std::max(f.peak[1], peakRight[k]);
        f.squares += squares[k];
    }
    for (; i < n; ++i) {
        const float l = std::fabs(left[i]), r = std::fabs(right[i]);
        f.peak[0] = std::max(f.peak[0], l);
        f.peak[1] = std::max(f.peak[1], r);
        f.squares += static_cast<double>(l) * l + static_cast<double>(r) * r;
    }
    return f;
}

}  // namespace

TARNVALE_WIDEST
uint64_t countNonFinite(const float* samples, size_t n) {
    // Counted in 32 bits a stretch, so the loop can use vector lanes.
    uint64_t count = 0;
    for (size_t at = 0; at < n;) {
        const size_t end = std::min(n, at + (size_t{1} << 20));
        uint32_t stretch = 0;
        for (size_t i = at; i < end; ++i) stretch += static_cast<uint32_t>(nonFiniteBits(samples[i]));
        count += stretch;
        at = end;
    }
    return count;
}

TARNVALE_WIDEST
void interleave(const float* left, const float* right, float* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

uint64_t finiteCopy(const float* in, float* out, size_t n) {
    const uint64_t count = countNonFinite(in, n);
    if (count == 0) {
        std::memcpy(out, in, n * sizeof(float));
        return 0;
    }
    for (size_t i = 0; i < n; ++i) out[i] = nonFiniteBits(in[i]) ? fullScale(in[i]) : in[i];
    return count;
}

LevelMeter::LevelMeter(int64_t totalFrames, const FileSamples& file) : total_(totalFrames), file_(file) {
    for (auto& c : columns_) c.assign(kPlotColumns, 0.0f);
    columnClipped_.assign(kPlotColumns, 0);
    // Column c holds the frames f with c <= f * kPlotColumns / total < c + 1.
    columnEnd_ = total_ > 0 ? (total_ + kPlotColumns - 1) / kPlotColumns : std::numeric_limits<int64_t>::max();
}

void LevelMeter::add(const float* left, const float* right, size_t n, int32_t* words) {
    // Each side as the file holds it: as it is, or a copy (quantized, or
    // with its non-finite samples replaced).
    const float* given[2] = {left, right};
    const float** side = side_;
    side[0] = left;
    side[1] = right;
    for (int s = 0; s < 2; ++s) {
        if (file_.quantizes()) {
            held_[s].resize(n);
            side[s] = held_[s].data();
            continue;
        }
        const uint64_t bad = countNonFinite(given[s], n);
        nonFinite_ += bad;
        if (bad > 0) {
            held_[s].resize(n);
            side[s] = held_[s].data();
            finiteCopy(given[s], held_[s].data(), n);
        }
    }
    // The frames column by column: the boundary is computed once a column.
    size_t at = 0;
    while (at < n) {
        const auto run = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n - at), columnEnd_ - seen_));
        if (file_.quantizes()) {
            // Both sides in one pass while every sample is finite; else
            // each side counted and held on its own.
            uint64_t clipped = 0;
            int32_t* runWords = words != nullptr ? words + 2 * at : nullptr;
            if (!file_.holdFinite(left + at, right + at, held_[0].data() + at, held_[1].data() + at, run, clipped,
                                  runWords)) {
                clipped = 0;
                for (int s = 0; s < 2; ++s) {
                    nonFinite_ += countNonFinite(given[s] + at, run);
                    clipped += file_.hold(given[s] + at, held_[s].data() + at, run);
                }
                if (runWords != nullptr) file_.words(held_[0].data() + at, held_[1].data() + at, runWords, run);
            }
            clipped_ += clipped;
            if (column_ < kPlotColumns) columnClipped_[static_cast<size_t>(column_)] += clipped;
        }
        addColumnRun(side[0] + at, side[1] + at, run);
        at += run;
        seen_ += static_cast<int64_t>(run);
        if (seen_ == columnEnd_) {
            ++column_;
            columnEnd_ = ((column_ + 1) * total_ + kPlotColumns - 1) / kPlotColumns;
        }
    }
    for (int s = 0; s < 2; ++s) truePeak_[s].add(side[s], n);
    samples_ += 2 * n;
}

void LevelMeter::addColumnRun(const float* left, const float* right, size_t n) {
    const RunFigures f = runFigures(left, right, n);
    sumSquares_ += f.squares;
    peak_ = std::max({peak_, static_cast<double>(f.peak[0]), static_cast<double>(f.peak[1])});
    if (column_ < kPlotColumns) {
        float& l = columns_[0][static_cast<size_t>(column_)];
        float& r = columns_[1][static_cast<size_t>(column_)];
        l = std::max(l, f.peak[0]);
        r = std::max(r, f.peak[1]);
    }
}

void LevelMeter::finish() {
    for (auto& t : truePeak_) t.finish();
}

double LevelMeter::rms() const { return samples_ > 0 ? std::sqrt(sumSquares_ / static_cast<double>(samples_)) : 0.0; }

double LevelMeter::truePeak() const { return std::max({truePeak_[0].peak(), truePeak_[1].peak(), peak_}); }

LoudnessMeter::LoudnessMeter(int sampleRate) {
    // The histogram keeps the state the same size for any length.
    state_ = ebur128_init(2, static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM);
}

LoudnessMeter::~LoudnessMeter() {
    if (state_ != nullptr) ebur128_destroy(&state_);
}

namespace {

// Whether every sample is zero (either sign), tested on the bits.
TARNVALE_WIDEST
bool silent(const int32_t* samples, size_t n) {
    int32_t any = 0;
    for (size_t i = 0; i < n; ++i) any |= samples[i];
    return any == 0;
}
TARNVALE_WIDEST
bool silent(const float* samples, size_t n) {
    uint32_t any = 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t bits;
        std::memcpy(&bits, samples + i, sizeof bits);
        any |= bits & 0x7FFFFFFFu;
    }
    return any == 0;
}

inline void addFrames(ebur128_state* st, const int32_t* frames, size_t n) { ebur128_add_frames_int(st, frames, n); }
inline void addFrames(ebur128_state* st, const float* frames, size_t n) { ebur128_add_frames_float(st, frames, n); }

}  // namespace

template <typename Sample>
bool LoudnessMeter::sounding(const Sample* frames, size_t n) {
    if (sounded_) return true;
    if (silent(frames, 2 * n)) {
        silence_ += n;
        return false;
    }
    sounded_ = true;
    static const Sample zeros[2 * 4096] = {};
    for (; silence_ > 0 && state_ != nullptr;) {
        const auto take = static_cast<size_t>(std::min<uint64_t>(silence_, 4096));
        addFrames(state_, zeros, take);
        silence_ -= take;
    }
    return true;
}

// libebur128 reads a whole number as its fraction of 2^31, and a float as
// it is: both the file's value, exactly.
void LoudnessMeter::add(const int32_t* frames, size_t n) {
    if (sounding(frames, n) && state_ != nullptr) addFrames(state_, frames, n);
}

void LoudnessMeter::add(const float* frames, size_t n) {
    if (sounding(frames, n) && state_ != nullptr) addFrames(state_, frames, n);
}

void LoudnessMeter::finish() {
    lufs_ = lra_ = std::nan("");
    if (state_ == nullptr) return;
    if (ebur128_loudness_global(state_, &lufs_) != EBUR128_SUCCESS) lufs_ = std::nan("");
    if (ebur128_loudness_range(state_, &lra_) != EBUR128_SUCCESS) lra_ = std::nan("");
    ebur128_destroy(&state_);
}

size_t LoudnessMeter::bytes(int sampleRate) {
    // Its window of 3 s, two channels of doubles, and some 64 KiB besides
    // (the histograms, the filter).
    return 3 * static_cast<size_t>(sampleRate) * 2 * sizeof(double) + 64 * 1024;
}

}  // namespace tools
