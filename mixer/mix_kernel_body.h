// The block mix written once over a vector type V of W floats. Each ISA's
// source file includes it inside an anonymous namespace, so every copy has
// internal linkage and is compiled only for its own instruction set.
//
// Not a public header: no include guard on purpose, no std:: templates inside.

#include "vector_memory.h"

// One group of frames starting at frame i. In place, all 32 inputs are read
// before any output is written, so outputs may alias inputs; for separate
// buffers each channel's pair is read, written to its direct outputs and
// added to the buses at once, which keeps far fewer values live and runs at
// the speed of the memory. Bus sums run from channel 1 to 16 in every copy,
// so all instruction sets and both forms give the same bits.
template <typename V, bool InPlace>
inline void mixGroup(const float* const* in, float* const* out, int32_t i, const tarnvale::MixGains& g) {
    using namespace tarnvale;
    V staged[InPlace ? kNumInputs : 1];
    if constexpr (InPlace)
        for (int k = 0; k < kNumInputs; ++k) staged[k] = loadVector<V>(in[k] + i);
    auto input = [&](int k) -> V {
        if constexpr (InPlace) return staged[k];
        return loadVector<V>(in[k] + i);
    };
    const V l0 = input(0), r0 = input(1);
    V mainL = l0 * g.feed[kMainLeft][0], mainR = r0 * g.feed[kMainRight][0];
    V send1L = l0 * g.feed[kSend1Left][0], send1R = r0 * g.feed[kSend1Right][0];
    V send2L = l0 * g.feed[kSend2Left][0], send2R = r0 * g.feed[kSend2Right][0];
    storeVector(out[6] + i, mainL);
    storeVector(out[7] + i, mainR);
    for (int c = 1; c < kNumChannels; ++c) {
        const V l = input(2 * c), r = input(2 * c + 1);
        const V directL = l * g.feed[kMainLeft][c];
        const V directR = r * g.feed[kMainRight][c];
        storeVector(out[6 + 2 * c] + i, directL);
        storeVector(out[7 + 2 * c] + i, directR);
        mainL += directL;
        mainR += directR;
        send1L += l * g.feed[kSend1Left][c];
        send1R += r * g.feed[kSend1Right][c];
        send2L += l * g.feed[kSend2Left][c];
        send2R += r * g.feed[kSend2Right][c];
    }
    storeVector(out[0] + i, mainL);
    storeVector(out[1] + i, mainR);
    storeVector(out[2] + i, send1L);
    storeVector(out[3] + i, send1R);
    storeVector(out[4] + i, send2L);
    storeVector(out[5] + i, send2R);
}

// Frames [offset, offset + frames): whole groups of W, then single frames.
template <typename V, int W, bool InPlace>
void mixFramesWith(const float* const* in, float* const* out, int32_t offset, int32_t frames,
                   const tarnvale::MixGains& g) {
    const int32_t end = offset + frames;
    int32_t i = offset;
    for (; i + W <= end; i += W) mixGroup<V, InPlace>(in, out, i, g);
    for (; i < end; ++i) mixGroup<float, InPlace>(in, out, i, g);
}
