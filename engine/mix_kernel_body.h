// The block mix written once over a vector type V of W floats. Each ISA's
// source file includes it inside an anonymous namespace, so every copy has
// internal linkage and is compiled only for its own instruction set.
//
// Not a public header: no include guard on purpose, no std:: templates inside.

#include "vector_memory.h"

// How a run's gains are given: one set for every frame, a lane per frame,
// or the ramping channels' ramps (the others' gains for every frame).
enum class GainMode { even, perFrame, ramp };

// The meters measure each sample by its magnitude's bits: the sign bit
// cleared, compared as an integer. Over floats whose sign is clear the
// integer order is the numbers' order, exactly, and it orders every bit
// pattern (an infinity above every finite sample, a NaN above that), so a
// maximum taken in any grouping and any order, by any kernel, is the same.
//
// The integers as wide as V (for a single float, one uint32_t).
template <typename V>
struct MeterBitsOf {
    using Type = decltype(V{} < V{});
};
template <>
struct MeterBitsOf<float> {
    using Type = uint32_t;
};
template <typename V>
using MeterBits = typename MeterBitsOf<V>::Type;

template <typename B>
inline B largerBits(B a, B b) {
    return a > b ? a : b;  // non-negative as signed integers: vpmaxsd where there is one
}

// The magnitude bits of each sample.
template <typename V>
inline MeterBits<V> magnitudeBits(V x) {
    MeterBits<V> bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    return bits & 0x7FFFFFFF;
}

// The largest magnitude's bits of U pairs of vectors of samples: the pairs
// combined first, then across the vectors, one maximum per stream.
template <typename V, int U>
inline MeterBits<V> largest(const V (&left)[U], const V (&right)[U]) {
    MeterBits<V> larger = largerBits(magnitudeBits(left[0]), magnitudeBits(right[0]));
    for (int u = 1; u < U; ++u) larger = largerBits(larger, largerBits(magnitudeBits(left[u]), magnitudeBits(right[u])));
    return larger;
}

// The largest of a vector's lanes: its four-lane parts combined, then
// those four lanes.
typedef int32_t MeterBits4 __attribute__((vector_size(16)));
template <typename B>
inline uint32_t largestLane(B v) {
    constexpr int kParts = sizeof(B) / sizeof(MeterBits4);
    static_assert(kParts * sizeof(MeterBits4) == sizeof(B), "whole four-lane parts");
    MeterBits4 largest;
    __builtin_memcpy(&largest, &v, sizeof largest);
    for (int k = 1; k < kParts; ++k) {
        MeterBits4 part;
        __builtin_memcpy(&part, reinterpret_cast<const char*>(&v) + k * sizeof part, sizeof part);
        largest = largerBits(largest, part);
    }
    return static_cast<uint32_t>(largerBits(largerBits(largest[0], largest[1]), largerBits(largest[2], largest[3])));
}

// The meters' running peaks of one run, per output pair: vectors for the
// vector groups, single values for the single frames (nothing unmetered).
template <typename V, bool Metered>
struct RunPeaks {
    MeterBits<V> peak[tarnvale::kNumPairs];
    uint32_t peakOne[tarnvale::kNumPairs];
};
template <typename V>
struct RunPeaks<V, false> {};

// A pair's samples' largest magnitude into its peak: a vector's into the
// run's vectors, a single frame's into its single values.
template <typename P, typename B>
inline void measureInto(P& peaks, int pair, B larger) {
    if constexpr (sizeof(B) == sizeof(uint32_t))
        peaks.peakOne[pair] = largerBits(peaks.peakOne[pair], larger);
    else
        peaks.peak[pair] = largerBits(peaks.peak[pair], larger);
}

// U vectors of frames starting at frame i, with the gains of lanes
// [lane, lane + U x width of V) (perFrame), with `even` for every frame, or
// with each ramping channel's ramp at `lane` frames into the run (ramp).
// In place, all 32 inputs are read before any output is written, so outputs
// may alias inputs; for separate buffers each channel's pair is read,
// written to its direct outputs and added to the buses at once, which keeps
// far fewer values live and runs at the speed of the memory. A channel's
// buffer pointers and even gains are read once for all U vectors. Bus sums
// run from channel 1 to 16 in every copy, so all instruction sets and both
// forms give the same bits. Metered, the measured pairs' samples go into
// `peaks` (its vectors, or for single frames its single values);
// EveryDirect, every channel's direct pair is measured, without a test
// per channel.
template <typename V, int U, bool InPlace, GainMode Mode, bool Metered, bool EveryDirect, typename P>
inline void mixGroup(const float* const* in, float* const* out, int32_t i, const tarnvale::MixGains& even,
                     const tarnvale::GainLanes* lanes, const tarnvale::GainRamp* ramp, int lane, P* peaks,
                     uint32_t measured) {
    using namespace tarnvale;
    constexpr int W = sizeof(V) / sizeof(float);
    V staged[InPlace ? kNumInputs : 1][U];
    if constexpr (InPlace)
        for (int k = 0; k < kNumInputs; ++k)
            for (int u = 0; u < U; ++u) staged[k][u] = loadVector<V>(in[k] + i + u * W);
    // Frames into the run of each lane, for the ramps.
    V position[Mode == GainMode::ramp ? U : 1];
    if constexpr (Mode == GainMode::ramp) {
        static constexpr float kIota[kLanes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int u = 0; u < U; ++u) position[u] = loadVector<V>(kIota) + static_cast<float>(lane + u * W);
    }
    V bus[kNumFeeds][U];
    // Channel c's feeds; the first channel starts the bus sums (a separate
    // copy of the body, so no sum waits on a test inside the loop).
    auto mixChannel = [&](const int c, const bool first) __attribute__((always_inline)) {
        const float* inL = in[channelInput(c, kLeft)];
        const float* inR = in[channelInput(c, kRight)];
        float* directL = out[directOutput(c, kLeft)];
        float* directR = out[directOutput(c, kRight)];
        // Steps left in the channel's ramp, times 1 / its length, per vector.
        V along[Mode == GainMode::ramp ? U : 1];
        const bool ramps = Mode == GainMode::ramp && ((ramp->channels >> c) & 1u) != 0;
        if constexpr (Mode == GainMode::ramp)
            if (ramps)
                for (int u = 0; u < U; ++u) along[u] = (ramp->remaining[c] - position[u]) * ramp->inverse[c];
        // A sample times a feed's factor: each frame's own, the ramp's, or
        // one for all.
        auto times = [&](V x, Feed f, int u) -> V {
            if constexpr (Mode == GainMode::perFrame) return x * loadVector<V>(&lanes->gain[f][c][lane + u * W]);
            if constexpr (Mode == GainMode::ramp)
                if (ramps) return x * (even.feed[f][c] + ramp->span[f][c] * along[u]);
            return x * even.feed[f][c];
        };
        V l[U], r[U];
        for (int u = 0; u < U; ++u) {
            l[u] = InPlace ? staged[channelInput(c, kLeft)][u] : loadVector<V>(inL + i + u * W);
            r[u] = InPlace ? staged[channelInput(c, kRight)][u] : loadVector<V>(inR + i + u * W);
        }
        // The direct pair first: once it is stored, the inputs stay in
        // registers for the sends rather than being read again.
        V mainL[U], mainR[U];
        for (int u = 0; u < U; ++u) {
            mainL[u] = times(l[u], kDirectFeed[kLeft], u);
            mainR[u] = times(r[u], kDirectFeed[kRight], u);
            storeVector(directL + i + u * W, mainL[u]);
            storeVector(directR + i + u * W, mainR[u]);
            bus[kDirectFeed[kLeft]][u] = first ? mainL[u] : bus[kDirectFeed[kLeft]][u] + mainL[u];
            bus[kDirectFeed[kRight]][u] = first ? mainR[u] : bus[kDirectFeed[kRight]][u] + mainR[u];
        }
        if constexpr (Metered)
            if (EveryDirect || ((measured >> pairOf(directOutput(c, kLeft))) & 1u) != 0)
                measureInto(*peaks, pairOf(directOutput(c, kLeft)), largest(mainL, mainR));
        for (int u = 0; u < U; ++u)
            for (Feed f : {kSend1Left, kSend2Left, kSend1Right, kSend2Right}) {
                const V send = times(sideOf(f) == kLeft ? l[u] : r[u], f, u);
                bus[f][u] = first ? send : bus[f][u] + send;
            }
    };
    mixChannel(0, true);
    for (int c = 1; c < kNumChannels; ++c) mixChannel(c, false);
    for (int u = 0; u < U; ++u)
        for (int f = 0; f < kNumFeeds; ++f) storeVector(out[kFeedOutput[f]] + i + u * W, bus[f][u]);
    if constexpr (Metered)
        for (int b = 0; b < kNumBuses; ++b)
            if (((measured >> pairOf(busOutput(static_cast<Bus>(b), kLeft))) & 1u) != 0)
                measureInto(*peaks, pairOf(busOutput(static_cast<Bus>(b), kLeft)),
                            largest(bus[kBusFeed[b][kLeft]], bus[kBusFeed[b][kRight]]));
}

// Channel c's factors from `gains` into lanes [from, to), a vector of W
// lanes at a time, each store as wide as the kernel's loads of the lanes
// (so those loads take the stored values straight from the store queue).
// Index is the vector of W int32_t as wide as V.
template <typename V, typename Index, int W>
void spreadLanes(const tarnvale::MixGains& gains, int c, int from, int to, tarnvale::GainLanes& lanes) {
    using namespace tarnvale;
    static_assert(sizeof(V) == sizeof(Index), "one index per lane");
    static constexpr int32_t kIota[kLanes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Index iota;
    __builtin_memcpy(&iota, kIota, sizeof iota);
    for (int q = from / W * W; q < to; q += W) {
        const Index index = iota + q;
        const Index inside = (index >= from) & (index < to);
        for (int f = 0; f < kNumFeeds; ++f) {
            float* laneGain = &lanes.gain[f][c][q];
            // The factor's bits in every lane, exactly (-0 and NaN included).
            int32_t bits;
            __builtin_memcpy(&bits, &gains.feed[f][c], sizeof bits);
            const Index spread = Index{} + bits;
            V value;
            __builtin_memcpy(&value, &spread, sizeof value);
            const V old = loadVector<V>(laneGain);
            storeVector(laneGain, inside ? value : old);
        }
    }
}

// The same while channel c ramps (lane j at remaining - j steps left, the
// target from where that falls below 0); `gains` for a channel that does
// not ramp.
template <typename V, typename Index, int W>
void spreadRampLanes(const tarnvale::MixGains& gains, const tarnvale::GainRamp& ramp, int c, int from, int to,
                     tarnvale::GainLanes& lanes) {
    using namespace tarnvale;
    if (((ramp.channels >> c) & 1u) == 0) return spreadLanes<V, Index, W>(gains, c, from, to, lanes);
    static constexpr int32_t kIota[kLanes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Index iota;
    __builtin_memcpy(&iota, kIota, sizeof iota);
    for (int q = from / W * W; q < to; q += W) {
        const Index index = iota + q;
        const Index inside = (index >= from) & (index < to);
        V lane;
        for (int j = 0; j < W; ++j) lane[j] = static_cast<float>(q + j);
        const V steps = ramp.remaining[c] - lane;
        const V along = steps * ramp.inverse[c];
        const Index ramping = steps >= 0.0f;
        for (int f = 0; f < kNumFeeds; ++f) {
            float* laneGain = &lanes.gain[f][c][q];
            int32_t bits;  // the target's bits, exactly, where the ramp has ended
            __builtin_memcpy(&bits, &gains.feed[f][c], sizeof bits);
            const Index spread = Index{} + bits;
            V target;
            __builtin_memcpy(&target, &spread, sizeof target);
            const V value = ramping ? gains.feed[f][c] + ramp.span[f][c] * along : target;
            const V old = loadVector<V>(laneGain);
            storeVector(laneGain, inside ? value : old);
        }
    }
}

// Frames [offset, offset + frames): whole groups of W (U vectors at a time
// where the run allows), then single frames, looking at the dirty bits
// after every kWatchFrames frames. Metered, the run's peaks go into
// `peaks` at its end.
template <typename V, int W, int U, bool InPlace, GainMode Mode, bool Metered, bool EveryDirect>
int32_t mixRun(const float* const* in, float* const* out, int32_t offset, int32_t frames,
               const tarnvale::MixGains& even, const tarnvale::GainLanes* lanes, const tarnvale::DirtyBits* watch,
               const tarnvale::GainRamp* ramp, tarnvale::MeterPeaks* peaks) {
    using namespace tarnvale;
    static_assert(kLanes % W == 0 && kWatchFrames % (U * W) == 0, "groups must fit the lanes");
    RunPeaks<V, Metered> run;
    const uint32_t measured = Metered ? peaks->pairs : 0;
    if constexpr (Metered)
        for (int p = 0; p < kNumPairs; ++p) {
            run.peak[p] = MeterBits<V>{};
            run.peakOne[p] = 0;
        }
    const int32_t end = offset + frames;
    int32_t i = offset;
    while (i < end) {
        const int32_t stop = end - i > kWatchFrames ? i + kWatchFrames : end;
        if constexpr (U > 1)
            for (; i + U * W <= stop; i += U * W)
                mixGroup<V, U, InPlace, Mode, Metered, EveryDirect>(in, out, i, even, lanes, ramp, i - offset, &run, measured);
        for (; i + W <= stop; i += W)
            mixGroup<V, 1, InPlace, Mode, Metered, EveryDirect>(in, out, i, even, lanes, ramp, i - offset, &run, measured);
        for (; i < stop; ++i)
            mixGroup<float, 1, InPlace, Mode, Metered, EveryDirect>(in, out, i, even, lanes, ramp, i - offset, &run, measured);
        if (watch != nullptr && watch->any()) break;
    }
    if constexpr (Metered)
        for (uint32_t pairs = measured; pairs != 0; pairs &= pairs - 1) {
            const int p = __builtin_ctz(pairs);
            peaks->peak[p] = largerBits(peaks->peak[p], largerBits(largestLane(run.peak[p]), run.peakOne[p]));
        }
    return i - offset;
}

// U: vectors mixed at a time for separate buffers and even gains, where the
// instruction set has the registers for it.
template <typename V, int W, int U, bool InPlace, bool Metered, bool EveryDirect>
int32_t mixMetered(const float* const* in, float* const* out, int32_t offset, int32_t frames,
                   const tarnvale::MixGains& even, const tarnvale::GainLanes* lanes, const tarnvale::DirtyBits* watch,
                   const tarnvale::GainRamp* ramp, tarnvale::MeterPeaks* peaks) {
    if (lanes != nullptr)
        return mixRun<V, W, 1, InPlace, GainMode::perFrame, Metered, EveryDirect>(in, out, offset, frames, even, lanes, watch,
                                                                     nullptr, peaks);
    if (ramp != nullptr && ramp->channels != 0)
        return mixRun<V, W, 1, InPlace, GainMode::ramp, Metered, EveryDirect>(in, out, offset, frames, even, nullptr, watch, ramp,
                                                                 peaks);
    return mixRun<V, W, InPlace ? 1 : U, InPlace, GainMode::even, Metered, EveryDirect>(in, out, offset, frames, even, nullptr,
                                                                           watch, nullptr, peaks);
}

template <typename V, int W, int U, bool InPlace>
int32_t mixFramesWith(const float* const* in, float* const* out, int32_t offset, int32_t frames,
                      const tarnvale::MixGains& even, const tarnvale::GainLanes* lanes,
                      const tarnvale::DirtyBits* watch, const tarnvale::GainRamp* ramp, tarnvale::MeterPeaks* peaks) {
    using namespace tarnvale;
    constexpr uint32_t kEveryDirect = ((1u << kNumPairs) - 1) & ~((1u << pairOf(kFirstDirectOutput)) - 1);
    if (peaks != nullptr && (peaks->pairs & kEveryDirect) == kEveryDirect)
        return mixMetered<V, W, U, InPlace, true, true>(in, out, offset, frames, even, lanes, watch, ramp, peaks);
    if (peaks != nullptr && peaks->pairs != 0)
        return mixMetered<V, W, U, InPlace, true, false>(in, out, offset, frames, even, lanes, watch, ramp, peaks);
    return mixMetered<V, W, U, InPlace, false, false>(in, out, offset, frames, even, lanes, watch, ramp, nullptr);
}

// The kernel set of one instruction set (its separate and in-place forms and
// its lane spread), as declared in mix_kernel.h: vector type V of W floats,
// Index the int32_t vector as wide, U vectors at a time. Used once per
// instruction set's source file, outside the anonymous namespace.
#define TARNVALE_DEFINE_KERNEL(name, V, Index, W, U)                                                            \
    namespace tarnvale {                                                                                     \
    int32_t name(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,            \
                 const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch, const GainRamp* ramp,  \
                 MeterPeaks* peaks) {                                                                        \
        return mixFramesWith<V, W, U, false>(inputs, outputs, offset, frames, gains, lanes, watch, ramp, peaks); \
    }                                                                                                        \
    int32_t name##InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,   \
                          const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch,              \
                          const GainRamp* ramp, MeterPeaks* peaks) {                                         \
        return mixFramesWith<V, W, U, true>(inputs, outputs, offset, frames, gains, lanes, watch, ramp, peaks);  \
    }                                                                                                        \
    void name##Spread(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes) {         \
        spreadLanes<V, Index, W>(gains, channel, fromLane, toLane, lanes);                                   \
    }                                                                                                        \
    void name##SpreadRamp(const MixGains& gains, const GainRamp& ramp, int channel, int fromLane, int toLane,  \
                          GainLanes& lanes) {                                                                \
        spreadRampLanes<V, Index, W>(gains, ramp, channel, fromLane, toLane, lanes);                         \
    }                                                                                                        \
    }  // namespace tarnvale
