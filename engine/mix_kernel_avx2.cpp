// The mix kernel for x86 processors with AVX2: eight frames at a time.
// Compiled with -mavx2 and called only after the processor says it has it.
#include "mix_kernel.h"

namespace {
typedef float Float8 __attribute__((vector_size(32)));
typedef int32_t Int8 __attribute__((vector_size(32)));
#include "mix_kernel_body.h"
}  // namespace

namespace tarnvale {
int32_t mixFramesAvx2(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                      const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {
    return mixFramesWith<Float8, 8, 1, false>(inputs, outputs, offset, frames, gains, lanes, watch);
}
int32_t mixFramesAvx2InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                             const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {
    return mixFramesWith<Float8, 8, 1, true>(inputs, outputs, offset, frames, gains, lanes, watch);
}
void mixFramesAvx2Spread(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes) {
    spreadLanes<Float8, Int8, 8>(gains, channel, fromLane, toLane, lanes);
}
}  // namespace tarnvale
