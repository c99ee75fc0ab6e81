#include "mix_kernel.h"

namespace tarnvale {

namespace {

constexpr float kPanCentre = 0.5f;
constexpr float kUnityChannelLevel = 0.78125f;
constexpr float kMasterFactor = 4.0f;

// Frames mixed per pass: the inputs of a pass are staged on the stack so
// that outputs aliasing inputs cannot feed back into the same pass.
constexpr int kChunk = 64;

}  // namespace

void computeGains(const float (&params)[kNumParams], MixGains& gains) {
    const float masterPan = params[paramIndex(0, kPan)];
    const float main = params[paramIndex(0, kVolume)] * kMasterFactor;
    const float send1 = params[paramIndex(0, kSend1)] * kMasterFactor;
    const float send2 = params[paramIndex(0, kSend2)] * kMasterFactor;
    for (int c = 0; c < kNumChannels; ++c) {
        const int strip = c + 1;
        float e = static_cast<float>(static_cast<double>(params[paramIndex(strip, kPan)]) +
                                     static_cast<double>(masterPan) - static_cast<double>(kPanCentre));
        if (e > 1.0f)
            e = 1.0f;
        else if (e < 0.0f)
            e = 0.0f;
        gains.effectivePan[c] = e;
        const float p = 2.0f * e;
        const float left = p > 1.0f ? 2.0f - p : 1.0f;
        const float right = p > 1.0f ? 1.0f : p;
        const float g = params[paramIndex(strip, kVolume)] / kUnityChannelLevel * main;
        const float g1 = params[paramIndex(strip, kSend1)] / kUnityChannelLevel * send1;
        const float g2 = params[paramIndex(strip, kSend2)] / kUnityChannelLevel * send2;
        gains.feed[kMainLeft][c] = g * left;
        gains.feed[kSend1Left][c] = g1 * left;
        gains.feed[kSend2Left][c] = g2 * left;
        gains.feed[kMainRight][c] = g * right;
        gains.feed[kSend1Right][c] = g1 * right;
        gains.feed[kSend2Right][c] = g2 * right;
    }
}

void mixFrames(const float* const* inputs, float* const* outputs, int32_t offset, int32_t frames,
               const MixGains& gains) {
    alignas(64) float in[kNumInputs][kChunk];
    alignas(64) float bus[kNumFeeds][kChunk];
    for (int32_t start = 0; start < frames; start += kChunk) {
        const int n = frames - start < kChunk ? static_cast<int>(frames - start) : kChunk;
        const int32_t base = offset + start;
        for (int k = 0; k < kNumInputs; ++k)
            for (int i = 0; i < n; ++i) in[k][i] = inputs[k][base + i];
        for (int f = 0; f < kNumFeeds; ++f)
            for (int i = 0; i < n; ++i) bus[f][i] = 0.0f;
        for (int c = 0; c < kNumChannels; ++c) {
            const float* left = in[2 * c];
            const float* right = in[2 * c + 1];
            float* directLeft = outputs[6 + 2 * c] + base;
            float* directRight = outputs[7 + 2 * c] + base;
            const float gl = gains.feed[kMainLeft][c], gr = gains.feed[kMainRight][c];
            const float s1l = gains.feed[kSend1Left][c], s1r = gains.feed[kSend1Right][c];
            const float s2l = gains.feed[kSend2Left][c], s2r = gains.feed[kSend2Right][c];
            for (int i = 0; i < n; ++i) {
                const float ml = left[i] * gl;
                const float mr = right[i] * gr;
                directLeft[i] = ml;
                directRight[i] = mr;
                bus[kMainLeft][i] += ml;
                bus[kMainRight][i] += mr;
                bus[kSend1Left][i] += left[i] * s1l;
                bus[kSend1Right][i] += right[i] * s1r;
                bus[kSend2Left][i] += left[i] * s2l;
                bus[kSend2Right][i] += right[i] * s2r;
            }
        }
        for (int f = 0; f < kNumFeeds; ++f) {
            float* out = outputs[kBusOutputForFeed[f]] + base;
            for (int i = 0; i < n; ++i) out[i] = bus[f][i];
        }
    }
}

}  // namespace tarnvale
