// The mix kernel for any target: four-float vectors the compiler maps to
// SSE2 on x86, NEON on ARM, or plain scalar code elsewhere.
#include "mix_kernel.h"

namespace {
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));
#include "mix_kernel_body.h"
}  // namespace

TARNVALE_DEFINE_KERNEL(mixFramesPortable, Float4, Int4, 4, 1)
