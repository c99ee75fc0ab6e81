// The mix kernel for x86-64 processors with AVX-512: sixteen frames at a
// time. Compiled with -mavx512f and called only after the processor says it
// has it.
#include "mix_kernel.h"

namespace {
typedef float Float16 __attribute__((vector_size(64)));
#include "mix_kernel_body.h"
}  // namespace

namespace tarnvale {
void mixFramesAvx512(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                     const MixGains& gains) {
    mixFramesWith<Float16, 16, false>(inputs, outputs, offset, frames, gains);
}
void mixFramesAvx512InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                            const MixGains& gains) {
    mixFramesWith<Float16, 16, true>(inputs, outputs, offset, frames, gains);
}
}  // namespace tarnvale
