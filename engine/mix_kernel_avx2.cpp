// The mix kernel for x86 processors with AVX2: eight frames at a time.
// Compiled with -mavx2 and called only after the processor says it has it.
#include "mix_kernel.h"

namespace {
typedef float Float8 __attribute__((vector_size(32)));
typedef int32_t Int8 __attribute__((vector_size(32)));
#include "mix_kernel_body.h"
}  // namespace

TARNVALE_DEFINE_KERNEL(mixFramesAvx2, Float8, Int8, 8, 1)
