// The mix kernel for x86 processors with AVX-512: sixteen frames at a
// time. Compiled with -mavx512f and called only after the processor says it
// has it.
#include "mix_kernel.h"

namespace {
typedef float Float16 __attribute__((vector_size(64)));
typedef int32_t Int16 __attribute__((vector_size(64)));
#include "mix_kernel_body.h"
}  // namespace

TARNVALE_DEFINE_KERNEL(mixFramesAvx512, Float16, Int16, 16, 2)
