#include "mix_kernel.h"

#include <cfloat>

#if TARNVALE_NEON_KERNELS
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace tarnvale {

namespace {

// A product or quotient of finite values held to the finite range: however
// large a host's parameter value, every gain stays finite, so silence mixes
// to silence rather than to 0 x infinity. Values in range are untouched.
inline float saturate(float x) { return x > FLT_MAX ? FLT_MAX : x < -FLT_MAX ? -FLT_MAX : x; }

}  // namespace

void computeChannelGains(const float* params, int c, MixGains& gains) {
    const float masterPan = params[paramIndex(0, kPan)];
    const float main = saturate(params[paramIndex(0, kVolume)] * kMasterFactor);
    const float send1 = saturate(params[paramIndex(0, kSend1)] * kMasterFactor);
    const float send2 = saturate(params[paramIndex(0, kSend2)] * kMasterFactor);
    const int strip = c + 1;
    float e = static_cast<float>(static_cast<double>(params[paramIndex(strip, kPan)]) + static_cast<double>(masterPan) -
                                 static_cast<double>(kPanCentre));
    if (e > 1.0f)
        e = 1.0f;
    else if (e < 0.0f)
        e = 0.0f;
    gains.effectivePan[c] = e;
    const float p = 2.0f * e;
    const float left = p > 1.0f ? 2.0f - p : 1.0f;
    const float right = p > 1.0f ? 1.0f : p;
    const float g = saturate(saturate(params[paramIndex(strip, kVolume)] / kUnityChannelLevel) * main);
    const float g1 = saturate(saturate(params[paramIndex(strip, kSend1)] / kUnityChannelLevel) * send1);
    const float g2 = saturate(saturate(params[paramIndex(strip, kSend2)] / kUnityChannelLevel) * send2);
    gains.feed[kMainLeft][c] = g * left;
    gains.feed[kSend1Left][c] = g1 * left;
    gains.feed[kSend2Left][c] = g2 * left;
    gains.feed[kMainRight][c] = g * right;
    gains.feed[kSend1Right][c] = g1 * right;
    gains.feed[kSend2Right][c] = g2 * right;
}

void computeGains(const float* params, MixGains& gains) {
    for (int c = 0; c < kNumChannels; ++c) computeChannelGains(params, c, gains);
}

void scaleChannelGains(int c, float factor, MixGains& gains) {
    if (factor == 1.0f) return;
    for (auto& feed : gains.feed) feed[c] *= factor;
}

namespace {

bool always() { return true; }
#if TARNVALE_X86_KERNELS
bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}
bool hasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
}
#endif
#if TARNVALE_NEON_KERNELS
bool hasAdvancedSimd() { return (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0; }
#endif

const KernelInfo* findKernel(KernelIsa isa) {
    for (const KernelInfo& info : kKernels)
        if (info.isa == isa) return &info;
    return nullptr;
}

}  // namespace

const KernelInfo kKernels[kNumKernels] = {
#if TARNVALE_X86_KERNELS
    {KernelIsa::avx512, "avx512", mixFramesAvx512, mixFramesAvx512InPlace, mixFramesAvx512Spread, hasAvx512},
    {KernelIsa::avx2, "avx2", mixFramesAvx2, mixFramesAvx2InPlace, mixFramesAvx2Spread, hasAvx2},
#endif
#if TARNVALE_NEON_KERNELS
    {KernelIsa::neon, "neon", mixFramesNeon, mixFramesNeonInPlace, mixFramesNeonSpread, hasAdvancedSimd},
#endif
    {KernelIsa::portable, "portable", mixFramesPortable, mixFramesPortableInPlace, mixFramesPortableSpread, always},
};

bool kernelRuns(KernelIsa isa) {
    const KernelInfo* info = findKernel(isa);
    return info != nullptr && info->runsHere();
}

const KernelInfo& selectedKernel() {
#if defined(TARNVALE_FORCE_KERNEL)
    // A build made to test one kernel throughout (it must run here).
    return *findKernel(KernelIsa::TARNVALE_FORCE_KERNEL);
#else
    for (const KernelInfo& info : kKernels)
        if (info.runsHere()) return info;
    return kKernels[kNumKernels - 1];
#endif
}

bool buffersOverlap(const float* const* inputs, float* const* outputs, int32_t frames) {
    const uintptr_t bytes = static_cast<uintptr_t>(frames) * sizeof(float);
    // First the spans: buffers from separate pools never meet.
    uintptr_t inLow = UINTPTR_MAX, inHigh = 0, outLow = UINTPTR_MAX, outHigh = 0;
    for (int k = 0; k < kNumInputs; ++k) {
        const auto a = reinterpret_cast<uintptr_t>(inputs[k]);
        inLow = a < inLow ? a : inLow;
        inHigh = a + bytes > inHigh ? a + bytes : inHigh;
    }
    for (int k = 0; k < kNumOutputs; ++k) {
        const auto a = reinterpret_cast<uintptr_t>(outputs[k]);
        outLow = a < outLow ? a : outLow;
        outHigh = a + bytes > outHigh ? a + bytes : outHigh;
    }
    if (outHigh <= inLow || inHigh <= outLow) return false;
    for (int o = 0; o < kNumOutputs; ++o) {
        const auto a = reinterpret_cast<uintptr_t>(outputs[o]);
        for (int k = 0; k < kNumInputs; ++k) {
            const auto b = reinterpret_cast<uintptr_t>(inputs[k]);
            if (a < b + bytes && b < a + bytes) return true;
        }
    }
    return false;
}

}  // namespace tarnvale
