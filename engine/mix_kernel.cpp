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

namespace {

// The master strip's factors, which every channel's gains take.
struct MasterFactors {
    float pan, main, send1, send2;
};

inline MasterFactors masterFactors(const float* params) {
    return {params[paramIndex(0, kPan)], saturate(params[paramIndex(0, kVolume)] * kMasterFactor),
            saturate(params[paramIndex(0, kSend1)] * kMasterFactor), saturate(params[paramIndex(0, kSend2)] * kMasterFactor)};
}

inline void channelGains(const float* params, int c, const MasterFactors& master, MixGains& gains) {
    const int strip = c + 1;
    float e = static_cast<float>(static_cast<double>(params[paramIndex(strip, kPan)]) + static_cast<double>(master.pan) -
                                 static_cast<double>(kPanCentre));
    if (e > 1.0f)
        e = 1.0f;
    else if (e < 0.0f)
        e = 0.0f;
    gains.effectivePan[c] = e;
    const float p = 2.0f * e;
    const float left = p > 1.0f ? 2.0f - p : 1.0f;
    const float right = p > 1.0f ? 1.0f : p;
    const float g = saturate(saturate(params[paramIndex(strip, kVolume)] / kUnityChannelLevel) * master.main);
    const float g1 = saturate(saturate(params[paramIndex(strip, kSend1)] / kUnityChannelLevel) * master.send1);
    const float g2 = saturate(saturate(params[paramIndex(strip, kSend2)] / kUnityChannelLevel) * master.send2);
    gains.feed[kMainLeft][c] = g * left;
    gains.feed[kSend1Left][c] = g1 * left;
    gains.feed[kSend2Left][c] = g2 * left;
    gains.feed[kMainRight][c] = g * right;
    gains.feed[kSend1Right][c] = g1 * right;
    gains.feed[kSend2Right][c] = g2 * right;
}

}  // namespace

void computeChannelGains(const float* params, int c, MixGains& gains) { channelGains(params, c, masterFactors(params), gains); }

namespace {

// Four channels at a time: the same operations as channelGains, lane by
// lane, so the same bits.
typedef float Float4 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

inline Float4 saturate4(Float4 x) {
    const Float4 high = Float4{} + FLT_MAX, low = Float4{} - FLT_MAX;
    return x > high ? high : x < low ? low : x;
}

inline Float4 kindOf4(const float* params, int c, ParamKind kind) {
    return Float4{params[paramIndex(c + 1, kind)], params[paramIndex(c + 2, kind)], params[paramIndex(c + 3, kind)],
                  params[paramIndex(c + 4, kind)]};
}

inline void store4(float* to, Float4 v) { __builtin_memcpy(to, &v, sizeof v); }

}  // namespace

void computeGains(const float* params, MixGains& gains) {
    static_assert(kNumChannels % 4 == 0, "four channels at a time");
    // The master's factors once for all sixteen channels.
    const MasterFactors master = masterFactors(params);
    const Float4 one = Float4{} + 1.0f, two = Float4{} + 2.0f, zero = Float4{};
    for (int c = 0; c < kNumChannels; c += 4) {
        const Double4 pan = __builtin_convertvector(kindOf4(params, c, kPan), Double4);
        Float4 e = __builtin_convertvector(pan + static_cast<double>(master.pan) - static_cast<double>(kPanCentre), Float4);
        e = e > one ? one : e < zero ? zero : e;
        store4(&gains.effectivePan[c], e);
        const Float4 p = two * e;
        const Float4 left = p > one ? two - p : one;
        const Float4 right = p > one ? one : p;
        const Float4 g = saturate4(saturate4(kindOf4(params, c, kVolume) / kUnityChannelLevel) * master.main);
        const Float4 g1 = saturate4(saturate4(kindOf4(params, c, kSend1) / kUnityChannelLevel) * master.send1);
        const Float4 g2 = saturate4(saturate4(kindOf4(params, c, kSend2) / kUnityChannelLevel) * master.send2);
        store4(&gains.feed[kMainLeft][c], g * left);
        store4(&gains.feed[kSend1Left][c], g1 * left);
        store4(&gains.feed[kSend2Left][c], g2 * left);
        store4(&gains.feed[kMainRight][c], g * right);
        store4(&gains.feed[kSend1Right][c], g1 * right);
        store4(&gains.feed[kSend2Right][c], g2 * right);
    }
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
    {KernelIsa::avx512, "avx512", mixFramesAvx512, mixFramesAvx512InPlace, mixFramesAvx512Spread, mixFramesAvx512SpreadRamp, hasAvx512},
    {KernelIsa::avx2, "avx2", mixFramesAvx2, mixFramesAvx2InPlace, mixFramesAvx2Spread, mixFramesAvx2SpreadRamp, hasAvx2},
#endif
#if TARNVALE_NEON_KERNELS
    {KernelIsa::neon, "neon", mixFramesNeon, mixFramesNeonInPlace, mixFramesNeonSpread, mixFramesNeonSpreadRamp, hasAdvancedSimd},
#endif
    {KernelIsa::portable, "portable", mixFramesPortable, mixFramesPortableInPlace, mixFramesPortableSpread, mixFramesPortableSpreadRamp, always},
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
