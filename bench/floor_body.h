// The memory floor written once over a vector type V of W floats: every
// input read once, every output written once, with the fewest operations
// that still make each output from the inputs (copies and sums). Included
// inside an anonymous namespace by each instruction set's source file,
// after engine/tables.h.

#include "engine/vector_memory.h"

template <typename V>
inline void floorGroup(const float* const* in, float* const* out, int i) {
    using namespace tarnvale;
    constexpr int kHalf = kNumChannels / 2;
    // Each channel's pair is read, copied to its direct outputs and added to
    // the buses at once; nothing is read or written twice. The low half of
    // the channels goes to send 1, the high half to send 2, both to main.
    V lowL = loadVector<V>(in[channelInput(0, kLeft)] + i), lowR = loadVector<V>(in[channelInput(0, kRight)] + i);
    V highL = loadVector<V>(in[channelInput(kHalf, kLeft)] + i);
    V highR = loadVector<V>(in[channelInput(kHalf, kRight)] + i);
    storeVector(out[directOutput(0, kLeft)] + i, lowL);
    storeVector(out[directOutput(0, kRight)] + i, lowR);
    storeVector(out[directOutput(kHalf, kLeft)] + i, highL);
    storeVector(out[directOutput(kHalf, kRight)] + i, highR);
    for (int c = 1; c < kHalf; ++c) {
        const V l = loadVector<V>(in[channelInput(c, kLeft)] + i), r = loadVector<V>(in[channelInput(c, kRight)] + i);
        const V l2 = loadVector<V>(in[channelInput(kHalf + c, kLeft)] + i);
        const V r2 = loadVector<V>(in[channelInput(kHalf + c, kRight)] + i);
        storeVector(out[directOutput(c, kLeft)] + i, l);
        storeVector(out[directOutput(c, kRight)] + i, r);
        storeVector(out[directOutput(kHalf + c, kLeft)] + i, l2);
        storeVector(out[directOutput(kHalf + c, kRight)] + i, r2);
        lowL += l;
        lowR += r;
        highL += l2;
        highR += r2;
    }
    storeVector(out[busOutput(kMainBus, kLeft)] + i, lowL + highL);
    storeVector(out[busOutput(kMainBus, kRight)] + i, lowR + highR);
    storeVector(out[busOutput(kSend1Bus, kLeft)] + i, lowL);
    storeVector(out[busOutput(kSend1Bus, kRight)] + i, lowR);
    storeVector(out[busOutput(kSend2Bus, kLeft)] + i, highL);
    storeVector(out[busOutput(kSend2Bus, kRight)] + i, highR);
}

template <typename V, int W>
void floorPass(const float* const* in, float* const* out, int frames) {
    int i = 0;
    for (; i + W <= frames; i += W) floorGroup<V>(in, out, i);
    for (; i < frames; ++i) floorGroup<float>(in, out, i);
}
