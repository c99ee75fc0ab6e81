#include "file_samples.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tools {

namespace {

inline uint32_t bitsOf(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}
inline bool nonFiniteBits(float v) { return (bitsOf(v) & 0x7F800000u) == 0x7F800000u; }
// Full scale for a non-finite sample: -1 for minus infinity, else +1.
inline float fullScale(float v) { return bitsOf(v) == 0xFF800000u ? -1.0f : 1.0f; }

// The step nearest x * steps (ties to even) within [-steps, steps - 1], as
// a float holding a whole number; `clipped` counts x beyond that range. For
// finite x only. Adding 2^23 to a magnitude below 2^23 rounds it to a
// whole number (this file is built without reassociating arithmetic).
inline float nearestStep(float x, float steps, uint32_t& clipped) {
    const float top = steps - 1.0f, bottom = -steps;
    const float v = x * steps;
    // Ties at the ends: top + 0.5 goes to the even step beyond, bottom - 0.5
    // to the even step bottom itself.
    clipped += static_cast<uint32_t>(v >= top + 0.5f) | static_cast<uint32_t>(v < bottom - 0.5f);
    const float inside = std::min(std::max(v, bottom), top);
    const float magnitude = (std::fabs(inside) + 8388608.0f) - 8388608.0f;
    return std::copysign(magnitude, inside);
}

// Runs `each(i, step)` over the samples, replacing non-finite ones by full
// scale first (not counted as clipped: they are counted as not finite).
// Counts in 32 bits a stretch, so the loop can use vector lanes.
template <typename Each>
uint64_t forEachStep(const float* in, size_t n, float steps, bool finite, Each each) {
    size_t bad = 0;
    if (!finite)
        for (size_t i = 0; i < n; ++i) bad += nonFiniteBits(in[i]);
    uint64_t total = 0;
    if (bad == 0) {
        for (size_t at = 0; at < n;) {
            const size_t end = std::min(n, at + (size_t{1} << 20));
            uint32_t clipped = 0;
            for (size_t i = at; i < end; ++i) each(i, nearestStep(in[i], steps, clipped));
            total += clipped;
            at = end;
        }
        return total;
    }
    for (size_t i = 0; i < n; ++i) {
        uint32_t clipped = 0, ignored = 0;
        each(i, nonFiniteBits(in[i]) ? nearestStep(fullScale(in[i]), steps, ignored) : nearestStep(in[i], steps, clipped));
        total += clipped;
    }
    return total;
}

}  // namespace

FileSamples::FileSamples(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16: bits_ = 16; break;
    case SF_FORMAT_PCM_24: bits_ = 24; break;
    default: bits_ = 0; break;
    }
    steps_ = bits_ > 0 ? static_cast<float>(int64_t{1} << (bits_ - 1)) : 0.0f;
}

#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_THREAD__)  // no clone resolver under ThreadSanitizer
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
uint64_t FileSamples::hold(const float* in, float* out, size_t n, bool finite) const {
    if (!quantizes()) {
        if (in != out) std::memmove(out, in, n * sizeof(float));
        return 0;
    }
    const float unit = 1.0f / steps_;
    return forEachStep(in, n, steps_, finite, [&](size_t i, float step) { out[i] = step * unit; });
}

namespace {

constexpr size_t kLanes = 16;
// A held sample times this is its word (see words()).
constexpr float kWordScale = 2147483648.0f;
typedef float Vec __attribute__((vector_size(kLanes * sizeof(float))));
typedef int32_t IntVec __attribute__((vector_size(kLanes * sizeof(float))));
typedef uint32_t UintVec __attribute__((vector_size(kLanes * sizeof(float))));

__attribute__((always_inline)) inline Vec load(const float* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
__attribute__((always_inline)) inline void store(float* p, Vec v) { std::memcpy(p, &v, sizeof v); }

// nearestStep() on a vector of finite samples, the same operations lane by
// lane; `clipped` counts down (-1 a clipped lane).
__attribute__((always_inline)) inline Vec nearestSteps(Vec x, float steps, IntVec& clipped) {
    const float top = steps - 1.0f, bottom = -steps;
    const Vec v = x * steps;
    // The two never hold together (and or-ing them costs a lane at a time).
    clipped += v >= top + 0.5f;
    clipped += v < bottom - 0.5f;
    Vec inside = v < bottom ? Vec{} + bottom : v;
    inside = top < inside ? Vec{} + top : inside;
    const IntVec bits = reinterpret_cast<IntVec>(inside);
    const Vec magnitude = (reinterpret_cast<Vec>(bits & 0x7FFFFFFF) + 8388608.0f) - 8388608.0f;
    return reinterpret_cast<Vec>(reinterpret_cast<IntVec>(magnitude) | (bits & INT32_MIN));
}

}  // namespace

#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_THREAD__)  // no clone resolver under ThreadSanitizer
__attribute__((target_clones("avx512f", "arch=x86-64-v3", "default")))
#endif
bool FileSamples::holdFinite(const float* left, const float* right, float* heldLeft, float* heldRight, size_t n,
                             uint64_t& clipped, int32_t* wordsOut) const {
    const float steps = steps_, unit = 1.0f / steps;  // not reloaded after each store
    UintVec exponents = {};
    IntVec clippedLanes = {};
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const Vec l = load(left + i), r = load(right + i);
        // All exponent bits set carry into the sign bit.
        exponents |= (reinterpret_cast<UintVec>(l) & 0x7F800000u) + 0x00800000u;
        exponents |= (reinterpret_cast<UintVec>(r) & 0x7F800000u) + 0x00800000u;
        const Vec hl = nearestSteps(l, steps, clippedLanes) * unit, hr = nearestSteps(r, steps, clippedLanes) * unit;
        store(heldLeft + i, hl);
        store(heldRight + i, hr);
        if (wordsOut != nullptr) {
            // As words() makes them, both sides interleaved.
            const IntVec wl = __builtin_convertvector(hl * kWordScale, IntVec);
            const IntVec wr = __builtin_convertvector(hr * kWordScale, IntVec);
            const IntVec first = __builtin_shuffle(wl, wr, IntVec{0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23});
            const IntVec second =
                __builtin_shuffle(wl, wr, IntVec{8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31});
            std::memcpy(wordsOut + 2 * i, &first, sizeof first);
            std::memcpy(wordsOut + 2 * i + kLanes, &second, sizeof second);
        }
    }
    uint32_t bad = 0, tail = 0;
    uint64_t count = 0;
    for (size_t k = 0; k < kLanes; ++k) {
        bad |= exponents[k] >> 31;
        count += static_cast<uint32_t>(-clippedLanes[k]);
    }
    for (; i < n; ++i) {
        bad |= static_cast<uint32_t>(nonFiniteBits(left[i])) | static_cast<uint32_t>(nonFiniteBits(right[i]));
        heldLeft[i] = nearestStep(left[i], steps, tail) * unit;
        heldRight[i] = nearestStep(right[i], steps, tail) * unit;
    }
    const size_t whole = n - n % kLanes;
    if (wordsOut != nullptr) words(heldLeft + whole, heldRight + whole, wordsOut + 2 * whole, n - whole);
    clipped = count + tail;
    return bad == 0;
}

#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_THREAD__)  // no clone resolver under ThreadSanitizer
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
void FileSamples::words(const float* heldLeft, const float* heldRight, int32_t* out, size_t n) const {
    // A held sample is its step over 2^(bits - 1), so times 2^31 it is the
    // step in the top bits, exactly; -1 gives the lowest word, and the top
    // step lies below 2^31.
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = static_cast<int32_t>(heldLeft[i] * kWordScale);
        out[2 * i + 1] = static_cast<int32_t>(heldRight[i] * kWordScale);
    }
}

}  // namespace tools
