// The mix kernel for 64-bit ARM: Advanced SIMD (NEON), which every aarch64
// processor has. Four-float vectors as in the portable kernel, but two of
// them (eight frames) at a time for separate buffers and even gains: the 32
// vector registers hold both vectors' six bus sums and a channel's inputs,
// so each channel's buffer pointers and factors are read once per eight
// frames rather than once per four.
#include "mix_kernel.h"

namespace {
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));
#include "mix_kernel_body.h"
}  // namespace

TARNVALE_DEFINE_KERNEL(mixFramesNeon, Float4, Int4, 4, 2)
