// The mix kernel: pure functions over arrays. Gains from a parameter
// snapshot, then a run of frames mixed with those gains.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define TARNVALE_X86_KERNELS 1
#else
#define TARNVALE_X86_KERNELS 0
#endif

#include "tables.h"

namespace tarnvale {

// The six signals a channel feeds, in the order the mixer keeps them.
enum Feed : int { kMainLeft, kSend1Left, kSend2Left, kMainRight, kSend1Right, kSend2Right, kNumFeeds };

// Output buffer of each bus, indexed by feed: main, send 1, send 2 pairs.
constexpr int kBusOutputForFeed[kNumFeeds] = {0, 2, 4, 1, 3, 5};

// What one run of frames is mixed with: per channel its effective pan and
// the linear factor of each feed (level gain times pan factor).
struct MixGains {
    float effectivePan[kNumChannels];
    float feed[kNumFeeds][kNumChannels];
};

// any thread; pure. The master pan shifts every channel's pan (held to
// 0..1); a channel level of 0.78125 and a master level of 0.25 are unity.
void computeGains(const float (&params)[kNumParams], MixGains& gains);
// The same for one channel (0-based) only: what a change of its own strip needs.
void computeChannelGains(const float (&params)[kNumParams], int channel, MixGains& gains);

// A mix kernel: mixes frames [offset, offset + frames) of the 32 inputs into
// the 38 outputs. Bus outputs 0..5 are sums of the channels' feeds, outputs
// 6 + 2(c-1) and 7 + 2(c-1) channel c's main pair. Every output sample of the
// run is overwritten. Each frame's inputs are read before its outputs are
// written, so outputs may alias inputs. Audio thread; pure, no allocation.
// All kernels give the same bits: same operations, same order.
using MixKernel = void (*)(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                           const MixGains& gains);

void mixFramesPortable(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                       const MixGains& gains);
#if TARNVALE_X86_KERNELS
void mixFramesAvx2(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                   const MixGains& gains);
void mixFramesAvx512(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
                     const MixGains& gains);
#endif

// The kernels this build has, and which of them this processor can run.
enum class KernelIsa { portable, avx2, avx512 };
struct KernelInfo {
    KernelIsa isa;
    const char* name;
    MixKernel kernel;  // null when not built for this target
};
extern const KernelInfo kKernels[3];

// any thread: whether this processor can run the kernel.
bool kernelRuns(KernelIsa isa);

// any thread: the widest kernel this processor runs (or the one the build
// was told to use).
const KernelInfo& selectedKernel();

}  // namespace tarnvale
