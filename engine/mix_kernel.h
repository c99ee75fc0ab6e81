// The mix kernel: pure functions over arrays. Gains from a parameter
// snapshot, then a run of frames mixed with those gains.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define TARNVALE_X86_KERNELS 1
#else
#define TARNVALE_X86_KERNELS 0
#endif
#if defined(__aarch64__)
#define TARNVALE_NEON_KERNELS 1
#else
#define TARNVALE_NEON_KERNELS 0
#endif

#include "parameter_store.h"
#include "tables.h"

namespace tarnvale {

// The gains in force: per channel its effective pan and the linear factor
// of each feed (level gain times pan factor).
struct MixGains {
    float effectivePan[kNumChannels];
    float feed[kNumFeeds][kNumChannels];
};

// [any thread] pure. The master pan shifts every channel's pan (held to
// 0..1); levels follow the gain law in tables.h.
void computeGains(const float* params, MixGains& gains);  // params: the 68 parameters
// The same for one channel (0-based) only: what a change of its own strip needs.
void computeChannelGains(const float* params, int channel, MixGains& gains);

// [any thread] pure. What a channel's switches make of its gains: 0 when it
// is muted, or when some channel is soloed and it is not; -1 with its
// polarity inverted; else 1.
constexpr float switchFactor(bool mute, bool solo, bool polarity, bool anySolo) {
    return mute || (anySolo && !solo) ? 0.0f : polarity ? -1.0f : 1.0f;
}
// [any thread] pure. Channel c's feeds times `factor` (1 leaves them exactly as they are).
void scaleChannelGains(int channel, float factor, MixGains& gains);

// What a run of frames is mixed with: each feed's factor per frame. Frame
// offset + j of a run takes lane j, so a run of up to kLanes frames can
// change its gains at any frame (one control change per frame, mixed a
// whole vector of frames at a time); a longer run needs every lane alike.
constexpr int kLanes = 16;
struct GainLanes {
    alignas(64) float gain[kNumFeeds][kNumChannels][kLanes];
};

// How often a run looks for parameter changes: a value written from another
// thread is heard within this many frames.
constexpr int32_t kWatchFrames = 32;

// A ramp in progress on some channels: each ramping channel's feeds move
// linearly from the gains they had to their targets (the `gains` a kernel
// is given) over the ramp's length. At a frame with r steps left (r counts
// down to 0 at the ramp's last frame, which takes the target), a feed's
// factor is rampGain(target, span, r, inverse): computed from r alone, never
// accumulated, so a ramp mixed in one call equals the same ramp mixed frame
// by frame, and every kernel gives the same bits.
struct GainRamp {
    float span[kNumFeeds][kNumChannels];  // the feed's gain before the ramp minus its target
    float remaining[kNumChannels];        // r at the first frame of the run (a whole number)
    float inverse[kNumChannels];          // 1 / the ramp's length in frames
    uint32_t channels;                    // bit c: channel c ramps
};
// [any thread] pure.
inline float rampGain(float target, float span, float steps, float inverse) { return target + span * (steps * inverse); }

// The peak meters' running peaks: per output pair, the largest magnitude
// of either side's samples, 0 before any sample. Each is kept as the bits of
// the magnitude (the sample's bits with the sign bit cleared), which order
// as unsigned integers exactly as the magnitudes do; an infinity is above
// every finite sample, a NaN above that.
struct MeterPeaks {
    uint32_t peak[kNumPairs];
    uint32_t pairs;  // bit p: measure pair p; the others are left as they are
};

// A mix kernel: mixes frames [offset, offset + frames) of the 32 inputs into
// the 38 outputs: every frame with `gains`, or, given `lanes`, frame
// offset + j with the gains of lane j (at most kLanes frames), or, given
// `ramp`, the ramping channels' frames with their ramp's gains (every frame
// of the run must lie within their ramps: r >= 0). Each feed's bus output
// (kFeedOutput) is the sum of the channels' feeds; each channel's direct
// pair (directOutput) its main feeds. Every output sample of the frames it
// mixes is overwritten. Given `peaks`, it also takes every measured pair's
// samples into its peak.
// After every kWatchFrames frames it looks at `watch` (when given) and stops
// early if any bit is set, so the caller can take the change; it answers how
// many frames it mixed. [audio thread] no allocation, no locks. All kernels give the
// same bits: same products, and every bus summed from channel 1 to 16. Each
// comes in two forms: one for separate input and output buffers, and one
// that reads each frame's inputs before writing its outputs, for outputs
// that alias inputs.
using MixKernel = int32_t (*)(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                              const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch,
                              const GainRamp* ramp, MeterPeaks* peaks);

// Channel c's factors from `gains` into lanes [fromLane, toLane): what a
// change at a frame within a group needs. Each kernel has its own, storing
// as wide as it loads.
using SpreadLanes = void (*)(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes);
// The same while channel c ramps: lane j as its ramp gives it with
// remaining - j steps left (the target once that is below 0); a channel
// that does not ramp takes `gains`.
using SpreadRampLanes = void (*)(const MixGains& gains, const GainRamp& ramp, int channel, int fromLane, int toLane,
                                 GainLanes& lanes);

#define TARNVALE_DECLARE_KERNEL(name)                                                                          \
    void name##Spread(const MixGains& gains, int channel, int fromLane, int toLane, GainLanes& lanes);          \
    void name##SpreadRamp(const MixGains& gains, const GainRamp& ramp, int channel, int fromLane, int toLane,  \
                          GainLanes& lanes);                                                                    \
    int32_t name(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,              \
                 const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch, const GainRamp* ramp,    \
                 MeterPeaks* peaks);                                                                            \
    int32_t name##InPlace(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,     \
                          const MixGains& gains, const GainLanes* lanes, const DirtyBits* watch,                \
                          const GainRamp* ramp, MeterPeaks* peaks);
TARNVALE_DECLARE_KERNEL(mixFramesPortable)
#if TARNVALE_X86_KERNELS
TARNVALE_DECLARE_KERNEL(mixFramesAvx2)
TARNVALE_DECLARE_KERNEL(mixFramesAvx512)
#endif
#if TARNVALE_NEON_KERNELS
TARNVALE_DECLARE_KERNEL(mixFramesNeon)
#endif
#undef TARNVALE_DECLARE_KERNEL

// The kernels this build has, widest first (on ARM the NEON kernel, as wide
// as the portable one, mixes twice as many frames per step); the portable
// kernel, last, runs everywhere.
enum class KernelIsa { portable, avx2, avx512, neon };
struct KernelInfo {
    KernelIsa isa;
    const char* name;
    MixKernel separate;
    MixKernel inPlace;
    SpreadLanes spread;
    SpreadRampLanes spreadRamp;
    bool (*runsHere)();  // whether this processor has the instruction set
};
#if TARNVALE_X86_KERNELS
constexpr int kNumKernels = 3;
#elif TARNVALE_NEON_KERNELS
constexpr int kNumKernels = 2;
#else
constexpr int kNumKernels = 1;
#endif
extern const KernelInfo kKernels[kNumKernels];

// [any thread] Whether this build has the kernel and this processor runs it.
bool kernelRuns(KernelIsa isa);

// [any thread] The widest kernel this processor runs (or the one the build
// was told to use).
const KernelInfo& selectedKernel();

// [audio thread] Whether any output buffer shares memory with any input
// buffer over the first `frames` samples.
bool buffersOverlap(const float* const* inputs, float* const* outputs, int32_t frames);

}  // namespace tarnvale
