// Unaligned loads and stores of a GCC vector type V, for code compiled once
// per instruction set. Included inside an anonymous namespace by the kernel
// and benchmark bodies, so every copy stays with its own instruction set.
//
// Not a public header: no include guard on purpose, no includes.

template <typename V>
inline V loadVector(const float* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <typename V>
inline void storeVector(float* p, V v) {
    __builtin_memcpy(p, &v, sizeof v);
}
