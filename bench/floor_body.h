// The memory floor written once over a vector type V of W floats: every
// input read once, every output written once, with the fewest operations
// that still make each output from the inputs (copies and sums). Included
// inside an anonymous namespace by each instruction set's source file.

template <typename V>
inline V loadV(const float* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
template <typename V>
inline void storeV(float* p, V v) {
    __builtin_memcpy(p, &v, sizeof v);
}

template <typename V>
inline void floorGroup(const float* const* in, float* const* out, int i) {
    // Each channel's pair is read, copied to its direct outputs and added to
    // the buses at once; nothing is read or written twice.
    V lowL = loadV<V>(in[0] + i), lowR = loadV<V>(in[1] + i);
    V highL = loadV<V>(in[16] + i), highR = loadV<V>(in[17] + i);
    storeV(out[6] + i, lowL);
    storeV(out[7] + i, lowR);
    storeV(out[22] + i, highL);
    storeV(out[23] + i, highR);
    for (int c = 1; c < 8; ++c) {
        const V l = loadV<V>(in[2 * c] + i), r = loadV<V>(in[2 * c + 1] + i);
        const V l2 = loadV<V>(in[16 + 2 * c] + i), r2 = loadV<V>(in[17 + 2 * c] + i);
        storeV(out[6 + 2 * c] + i, l);
        storeV(out[7 + 2 * c] + i, r);
        storeV(out[22 + 2 * c] + i, l2);
        storeV(out[23 + 2 * c] + i, r2);
        lowL += l;
        lowR += r;
        highL += l2;
        highR += r2;
    }
    storeV(out[0] + i, lowL + highL);  // main: all channels
    storeV(out[1] + i, lowR + highR);
    storeV(out[2] + i, lowL);  // send 1: channels 1..8
    storeV(out[3] + i, lowR);
    storeV(out[4] + i, highL);  // send 2: channels 9..16
    storeV(out[5] + i, highR);
}

template <typename V, int W>
void floorPass(const float* const* in, float* const* out, int frames) {
    int i = 0;
    for (; i + W <= frames; i += W) floorGroup<V>(in, out, i);
    for (; i < frames; ++i) floorGroup<float>(in, out, i);
}
