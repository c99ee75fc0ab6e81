// The mix kernel for x86 processors with AVX-512: sixteen frames at a
// time. Compiled with -mavx512f and called only after the processor says it
// has it.
#include "mix_kernel.h"

namespace {
typedef float Float16 __attribute__((vector_size(64)));
typedef int32_t Int16 __attribute__((vector_size(64)));
#include "mix_kernel_body.h"
}  // namespace

namespace tarnvale {
int32_t mixFramesAvx512(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                        const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {
    return mixFramesWith<Float16, 16, 2, false>(inputs, outputs, offset, frames, gains, lanes, watch);
}
int32_t mixFramesAvx512InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                               const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch) {
    return mixFramesWith<Float16, 16, 2, true>(inputs, outputs, offset, frames, gains, lanes, watch);
}
void mixFramesAvx512Spread(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes) {
    spreadLanes<Float16, Int16, 16>(gains, channel, fromLane, toLane, lanes);
}
}  // namespace tarnvale
