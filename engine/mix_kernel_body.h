// The block mix written once over a vector type V of W floats. Each ISA's
// source file includes it inside an anonymous namespace, so every copy has
// internal linkage and is compiled only for its own instruction set.
//
// Not a public header: no include guard on purpose, no std:: templates inside.

#include "vector_memory.h"

// U vectors of frames starting at frame i, with the gains of lanes
// [lane, lane + U x width of V) (PerFrame), or with `even` for every frame.
// In place, all 32 inputs are read before any output is written, so outputs
// may alias inputs; for separate buffers each channel's pair is read,
// written to its direct outputs and added to the buses at once, which keeps
// far fewer values live and runs at the speed of the memory. A channel's
// buffer pointers and even gains are read once for all U vectors. Bus sums
// run from channel 1 to 16 in every copy, so all instruction sets and both
// forms give the same bits.
template <typename V, int U, bool InPlace, bool PerFrame>
inline void mixGroup(const float* const* in, float* const* out, int32_t i, const tarnvale::MixGains& even,
                     const tarnvale::GainLanes* lanes, int lane) {
    using namespace tarnvale;
    constexpr int W = sizeof(V) / sizeof(float);
    V staged[InPlace ? kNumInputs : 1][U];
    if constexpr (InPlace)
        for (int k = 0; k < kNumInputs; ++k)
            for (int u = 0; u < U; ++u) staged[k][u] = loadVector<V>(in[k] + i + u * W);
    V bus[kNumFeeds][U];
    // Channel c's feeds; the first channel starts the bus sums (a separate
    // copy of the body, so no sum waits on a test inside the loop).
    auto mixChannel = [&](const int c, const bool first) __attribute__((always_inline)) {
        const float* inL = in[channelInput(c, kLeft)];
        const float* inR = in[channelInput(c, kRight)];
        float* directL = out[directOutput(c, kLeft)];
        float* directR = out[directOutput(c, kRight)];
        // A sample times a feed's factor: each frame's own, or one for all.
        auto times = [&](V x, Feed f, int u) -> V {
            if constexpr (PerFrame) return x * loadVector<V>(&lanes->gain[f][c][lane + u * W]);
            return x * even.feed[f][c];
        };
        V l[U], r[U];
        for (int u = 0; u < U; ++u) {
            l[u] = InPlace ? staged[channelInput(c, kLeft)][u] : loadVector<V>(inL + i + u * W);
            r[u] = InPlace ? staged[channelInput(c, kRight)][u] : loadVector<V>(inR + i + u * W);
        }
        // The direct pair first: once it is stored, the inputs stay in
        // registers for the sends rather than being read again.
        for (int u = 0; u < U; ++u) {
            const V mainL = times(l[u], kDirectFeed[kLeft], u), mainR = times(r[u], kDirectFeed[kRight], u);
            storeVector(directL + i + u * W, mainL);
            storeVector(directR + i + u * W, mainR);
            bus[kDirectFeed[kLeft]][u] = first ? mainL : bus[kDirectFeed[kLeft]][u] + mainL;
            bus[kDirectFeed[kRight]][u] = first ? mainR : bus[kDirectFeed[kRight]][u] + mainR;
        }
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
            float* lane = &lanes.gain[f][c][q];
            // The factor's bits in every lane, exactly (-0 and NaN included).
            int32_t bits;
            __builtin_memcpy(&bits, &gains.feed[f][c], sizeof bits);
            const Index spread = Index{} + bits;
            V value;
            __builtin_memcpy(&value, &spread, sizeof value);
            const V old = loadVector<V>(lane);
            storeVector(lane, inside ? value : old);
        }
    }
}

// Frames [offset, offset + frames): whole groups of W (U vectors at a time
// where the run allows), then single frames, looking at the dirty bits
// after every kWatchFrames frames.
template <typename V, int W, int U, bool InPlace, bool PerFrame>
int32_t mixRun(const float* const* in, float* const* out, int32_t offset, int32_t frames,
               const tarnvale::MixGains& even, const tarnvale::GainLanes* lanes, const tarnvale::DirtyBits* watch) {
    static_assert(tarnvale::kLanes % W == 0 && tarnvale::kWatchFrames % (U * W) == 0, "groups must fit the lanes");
    const int32_t end = offset + frames;
    int32_t i = offset;
    while (i < end) {
        const int32_t stop = end - i > tarnvale::kWatchFrames ? i + tarnvale::kWatchFrames : end;
        if constexpr (U > 1)
            for (; i + U * W <= stop; i += U * W) mixGroup<V, U, InPlace, PerFrame>(in, out, i, even, lanes, i - offset);
        for (; i + W <= stop; i += W) mixGroup<V, 1, InPlace, PerFrame>(in, out, i, even, lanes, i - offset);
        for (; i < stop; ++i) mixGroup<float, 1, InPlace, PerFrame>(in, out, i, even, lanes, i - offset);
        if (watch != nullptr && watch->any()) break;
    }
    return i - offset;
}

// U: vectors mixed at a time for separate buffers and even gains, where the
// instruction set has the registers for it.
template <typename V, int W, int U, bool InPlace>
int32_t mixFramesWith(const float* const* in, float* const* out, int32_t offset, int32_t frames,
                      const tarnvale::MixGains& even, const tarnvale::GainLanes* lanes,
                      const tarnvale::DirtyBits* watch) {
    if (lanes != nullptr) return mixRun<V, W, 1, InPlace, true>(in, out, offset, frames, even, lanes, watch);
    return mixRun<V, W, InPlace ? 1 : U, InPlace, false>(in, out, offset, frames, even, nullptr, watch);
}

// The kernel set of one instruction set (its separate and in-place forms and
// its lane spread), as declared in mix_kernel.h: vector type V of W floats,
// Index the int32_t vector as wide, U vectors at a time. Used once per
// instruction set's source file, outside the anonymous namespace.
#define TARNVALE_DEFINE_KERNEL(name, V, Index, W, U)                                                            \
    namespace tarnvale {                                                                                     \
    int32_t name(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,            \
                 const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {                      \
        return mixFramesWith<V, W, U, false>(inputs, outputs, offset, frames, gains, lanes, watch);          \
    }                                                                                                        \
    int32_t name##InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,   \
                          const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {             \
        return mixFramesWith<V, W, U, true>(inputs, outputs, offset, frames, gains, lanes, watch);           \
    }                                                                                                        \
    void name##Spread(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes) {         \
        spreadLanes<V, Index, W>(gains, channel, fromLane, toLane, lanes);                                   \
    }                                                                                                        \
    }  // namespace tarnvale
