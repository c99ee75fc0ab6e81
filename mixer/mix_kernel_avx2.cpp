// The mix kernel for x86-64 processors with AVX2: eight frames at a time.
// Compiled with -mavx2 and called only after the processor says it has it.
#include "mix_kernel.h"

namespace {
typedef float Float8 __attribute__((vector_size(32)));
#include "mix_kernel_body.h"
}  // namespace

namespace tarnvale {
void mixFramesAvx2(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                   const MixGains& gains) {
    mixFramesWith<Float8, 8, false>(inputs, outputs, offset, frames, gains);
}
void mixFramesAvx2InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                          const MixGains& gains) {
    mixFramesWith<Float8, 8, true>(inputs, outputs, offset, frames, gains);
}
}  // namespace tarnvale
