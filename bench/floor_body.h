// The memory floor written once over a vector type V of W floats: every
// input read once, every output written once, with the fewest operations
// that still make each output from the inputs (copies and sums). Included
// inside an anonymous namespace by each instruction set's source file.

#include "engine/vector_memory.h"

template <typename V>
inline void floorGroup(const float* const* in, float* const* out, int i) {
    // Each channel's pair is read, copied to its direct outputs and added to
    // the buses at once; nothing is read or written twice.
    V lowL = loadVector<V>(in[0] + i), lowR = loadVector<V>(in[1] + i);
    V highL = loadVector<V>(in[16] + i), highR = loadVector<V>(in[17] + i);
    storeVector(out[6] + i, lowL);
    storeVector(out[7] + i, lowR);
    storeVector(out[22] + i, highL);
    storeVector(out[23] + i, highR);
    for (int c = 1; c < 8; ++c) {
        const V l = loadVector<V>(in[2 * c] + i), r = loadVector<V>(in[2 * c + 1] + i);
        const V l2 = loadVector<V>(in[16 + 2 * c] + i), r2 = loadVector<V>(in[17 + 2 * c] + i);
        storeVector(out[6 + 2 * c] + i, l);
        storeVector(out[7 + 2 * c] + i, r);
        storeVector(out[22 + 2 * c] + i, l2);
        storeVector(out[23 + 2 * c] + i, r2);
        lowL += l;
        lowR += r;
        highL += l2;
        highR += r2;
    }
    storeVector(out[0] + i, lowL + highL);  // main: all channels
    storeVector(out[1] + i, lowR + highR);
    storeVector(out[2] + i, lowL);  // send 1: channels 1..8
    storeVector(out[3] + i, lowR);
    storeVector(out[4] + i, highL);  // send 2: channels 9..16
    storeVector(out[5] + i, highR);
}

template <typename V, int W>
void floorPass(const float* const* in, float* const* out, int frames) {
    int i = 0;
    for (; i + W <= frames; i += W) floorGroup<V>(in, out, i);
    for (; i < frames; ++i) floorGroup<float>(in, out, i);
}
