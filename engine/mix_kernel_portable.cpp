// The mix kernel for any target: four-float vectors the compiler maps to
// SSE2 on x86, NEON on ARM, or plain scalar code elsewhere.
#include "mix_kernel.h"

namespace {
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));
#include "mix_kernel_body.h"
}  // namespace

namespace tarnvale {
int32_t mixFramesPortable(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                          const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {
    return mixFramesWith<Float4, 4, 1, false>(inputs, outputs, offset, frames, gains, lanes, watch);
}
int32_t mixFramesPortableInPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                                 const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {
    return mixFramesWith<Float4, 4, 1, true>(inputs, outputs, offset, frames, gains, lanes, watch);
}
void mixFramesPortableSpread(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes) {
    spreadLanes<Float4, Int4, 4>(gains, channel, fromLane, toLane, lanes);
}
}  // namespace tarnvale
