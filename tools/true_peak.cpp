#include "true_peak.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tools {

namespace {

constexpr int kTaps = TruePeakMeter::kTaps;
constexpr int kCentre = kTaps / 2 - 1;  // the window's sample at the point's own time
constexpr int kLanes = 16;
constexpr double kKaiserBeta = 5.0;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Coefficients of phases 1..3 (a quarter, a half and three quarters of a
// sample after the centre sample); each phase sums to 1. Phase 0 is the
// sample itself, as the sinc is 0 at every other sample.
struct Phases {
    float c[3][kTaps];
    // No point lies further from 0 than this times the largest sample it is
    // made of: the largest sum of a phase's coefficients' magnitudes, with
    // room for the rounding of single-precision sums.
    double gain = 1.0;
    Phases() {
        for (int p = 1; p <= 3; ++p) {
            double row[kTaps], sum = 0.0;
            for (int j = 0; j < kTaps; ++j) {
                const double u = p / 4.0 - (j - kCentre);
                const double sinc = std::sin(M_PI * u) / (M_PI * u);
                const double r = u / (kTaps / 2.0);
                row[j] = sinc * besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(kKaiserBeta);
                sum += row[j];
            }
            double magnitudes = 0.0;
            for (int j = 0; j < kTaps; ++j) {
                c[p - 1][j] = static_cast<float>(row[j] / sum);
                magnitudes += std::fabs(static_cast<double>(c[p - 1][j]));
            }
            gain = std::max(gain, magnitudes * 1.001);
        }
    }
};
const Phases& phases() {
    static const Phases table;
    return table;
}

typedef float Vec __attribute__((vector_size(kLanes * sizeof(float))));
typedef int IntVec __attribute__((vector_size(kLanes * sizeof(float))));

inline Vec load(const float* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(float* p, Vec v) { std::memcpy(p, &v, sizeof v); }
inline Vec magnitude(Vec v) { return reinterpret_cast<Vec>(reinterpret_cast<IntVec>(v) & 0x7FFFFFFF); }
inline Vec larger(Vec a, Vec b) { return a > b ? a : b; }

// The three in-between points of n samples (n a multiple of kLanes), their
// magnitudes into points[phase * n + i], and each sample's highest point
// (the sample itself included) into peaks[i]. Returns the highest of all.
// ThreadSanitizer cannot run the resolver that picks a clone (it runs
// before the sanitizer is set up), so its builds take the baseline.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx512f", "arch=x86-64-v3", "default")))
#endif
float interpolateKernel(const float* window, size_t n, const float (*c)[kTaps], float* points, float* peaks) {
    Vec top = {};
    // kBlock vectors of samples at a time, so each tap's three coefficients
    // are loaded once for all of them and every sample vector once for all
    // three phases.
    constexpr size_t kBlock = 4;
    auto finishVector = [&](size_t i, Vec a, Vec b, Vec d) {
        a = magnitude(a);
        b = magnitude(b);
        d = magnitude(d);
        store(points + i, a);
        store(points + n + i, b);
        store(points + 2 * n + i, d);
        const Vec m = larger(larger(magnitude(load(window + i + kCentre)), a), larger(b, d));
        store(peaks + i, m);
        top = larger(top, m);
    };
    size_t i = 0;
    for (; i + kBlock * kLanes <= n; i += kBlock * kLanes) {
        Vec a[kBlock] = {}, b[kBlock] = {}, d[kBlock] = {};
        for (int j = 0; j < kTaps; ++j) {
            const float ca = c[0][j], cb = c[1][j], cd = c[2][j];
            for (size_t v = 0; v < kBlock; ++v) {
                const Vec x = load(window + i + v * kLanes + j);
                a[v] += ca * x;
                b[v] += cb * x;
                d[v] += cd * x;
            }
        }
        for (size_t v = 0; v < kBlock; ++v) finishVector(i + v * kLanes, a[v], b[v], d[v]);
    }
    for (; i < n; i += kLanes) {
        Vec a = {}, b = {}, d = {};
        for (int j = 0; j < kTaps; ++j) {
            const Vec x = load(window + i + j);
            a += c[0][j] * x;
            b += c[1][j] * x;
            d += c[2][j] * x;
        }
        finishVector(i, a, b, d);
    }
    float highest = top[0];
    for (int k = 1; k < kLanes; ++k) highest = std::max(highest, top[k]);
    return highest;
}

// The largest magnitude among n samples.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx512f", "arch=x86-64-v3", "default")))
#endif
float largestMagnitude(const float* samples, size_t n) {
    Vec top = {};
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) top = larger(top, magnitude(load(samples + i)));
    float highest = 0.0f;
    for (int k = 0; k < kLanes; ++k) highest = std::max(highest, top[k]);
    for (; i < n; ++i) highest = std::max(highest, std::fabs(samples[i]));
    return highest;
}

// The peak of the parabola through three neighbouring points, the middle
// one the highest.
double parabolaTop(double before, double at, double after) {
    const double curve = 2.0 * at - before - after;
    if (!(curve > 0.0)) return at;
    return at + (before - after) * (before - after) / (8.0 * curve);
}

}  // namespace

TruePeakMeter::TruePeakMeter()
    : window_(kTaps - 1 + kPiece, 0.0f), points_(3 * kPiece), peaks_(kPiece) {}

void TruePeakMeter::add(const float* samples, size_t n) {
    while (n > 0) {
        const size_t take = std::min(n, kPiece - pending_);
        std::memcpy(window_.data() + kTaps - 1 + pending_, samples, take * sizeof(float));
        pending_ += take;
        samples += take;
        n -= take;
        if (pending_ == kPiece) interpolate(kPiece);
    }
}

void TruePeakMeter::finish() {
    // Silence after the end, so the last samples' in-between points are
    // made too; the last piece is rounded up to whole vectors of silence.
    static const float silence[kTaps / 2] = {};
    add(silence, kTaps / 2);
    if (pending_ == 0) return;
    std::fill(window_.begin() + static_cast<std::ptrdiff_t>(kTaps - 1 + pending_), window_.end(), 0.0f);
    interpolate((pending_ + kLanes - 1) / kLanes * kLanes);
}

void TruePeakMeter::interpolate(size_t n) {
    // Below the level that could raise the peak (or be refined, below), a
    // piece is not interpolated: all that is needed of it is its last point,
    // for the next piece, made by the same code as every other point.
    if (static_cast<double>(largestMagnitude(window_.data(), kTaps - 1 + n)) * phases().gain * 1.1 <= best_) {
        float points[3 * kLanes], peaks[kLanes];
        interpolateKernel(window_.data() + n - kLanes, kLanes, phases().c, points, peaks);
        lastPhase3_ = points[3 * kLanes - 1];
        std::memmove(window_.data(), window_.data() + n, (kTaps - 1) * sizeof(float));
        pending_ = 0;
        return;
    }
    const float highest = interpolateKernel(window_.data(), n, phases().c, points_.data(), peaks_.data());
    const float* a = points_.data();
    const float* b = a + n;
    const float* d = b + n;
    auto sample = [&](size_t i) { return std::fabs(window_[i + kCentre]); };
    // The piece's highest point, refined where that could raise the peak:
    // every local maximum among the points of its group of samples.
    if (highest * 1.1 > best_) {
        const size_t at = static_cast<size_t>(std::find(peaks_.begin(), peaks_.begin() + static_cast<std::ptrdiff_t>(n), highest) -
                                              peaks_.begin());
        const size_t group = at / kLanes * kLanes;
        for (size_t i = group; i < std::min(n, group + kLanes); ++i) {
            // The points around sample i in time order: the one before it,
            // the sample, its three in-between points, the next sample.
            const double line[6] = {i > 0 ? d[i - 1] : lastPhase3_, sample(i), a[i], b[i], d[i], sample(i + 1)};
            for (int k = 1; k <= 4; ++k)
                if (line[k] >= line[k - 1] && line[k] >= line[k + 1])
                    best_ = std::max(best_, parabolaTop(line[k - 1], line[k], line[k + 1]));
        }
        best_ = std::max(best_, static_cast<double>(highest));
    }
    lastPhase3_ = d[n - 1];
    // The last kTaps - 1 samples are the next piece's history.
    std::memmove(window_.data(), window_.data() + n, (kTaps - 1) * sizeof(float));
    pending_ = 0;
}

}  // namespace tools
