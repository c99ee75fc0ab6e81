// The mix kernel for any target: four-float vectors the compiler maps to
// SSE2 on x86-64, NEON on ARM, or plain scalar code elsewhere.
#include "mix_kernel.h"

namespace {
typedef float Float4 __attribute__((vector_size(16)));
#include "mix_kernel_body.h"
}  // namespace

namespace tarnvale {
void mixFramesPortable(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                       const MixGains& gains) {
    mixFramesWith<Float4, 4, false>(inputs, outputs, offset, frames, gains);
}
void mixFramesPortableInPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                              const MixGains& gains) {
    mixFramesWith<Float4, 4, true>(inputs, outputs, offset, frames, gains);
}
}  // namespace tarnvale
