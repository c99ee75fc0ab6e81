// Drives one mix kernel over a block, for counting the instructions it
// executes under an emulator (scripts/arm64-instructions.sh): where times
// under emulation mean nothing, instruction counts still compare kernels.
//   kernel_instructions KERNEL PATH REPETITIONS
// KERNEL: an index into kKernels; PATH: 0 separate buffers, even gains;
// 1 the same with every meter; 2 in place; 3 per-frame gains in groups of
// kLanes frames.
#include <cstdlib>

#include "engine/mix_kernel.h"

using namespace tarnvale;

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const int kernel = std::atoi(argv[1]), path = std::atoi(argv[2]), repetitions = std::atoi(argv[3]);
    if (kernel < 0 || kernel >= kNumKernels || path < 0 || path > 3) return 2;
    constexpr int kFrames = 4096;
    static float buffers[kNumInputs + kNumOutputs][kFrames];
    for (auto& b : buffers)
        for (int i = 0; i < kFrames; ++i) b[i] = static_cast<float>(i % 17) * 0.01f;
    const float* in[kNumInputs];
    float* out[kNumOutputs];
    for (int k = 0; k < kNumInputs; ++k) in[k] = buffers[k];
    for (int k = 0; k < kNumOutputs; ++k) out[k] = path == 2 && k < kNumInputs ? buffers[k] : buffers[kNumInputs + k];
    float params[kNumParams];
    for (int i = 0; i < kNumParams; ++i) params[i] = 0.3f + 0.01f * static_cast<float>(i);
    MixGains gains;
    computeGains(params, gains);
    const KernelInfo& info = kKernels[kernel];
    static GainLanes lanes;
    for (int c = 0; c < kNumChannels; ++c) info.spread(gains, c, 0, kLanes, lanes);
    static MeterPeaks peaks;
    peaks.pairs = (1u << kNumPairs) - 1;
    for (int r = 0; r < repetitions; ++r) {
        if (path == 0) info.separate(in, out, 0, kFrames, gains, nullptr, nullptr, nullptr, nullptr);
        if (path == 1) info.separate(in, out, 0, kFrames, gains, nullptr, nullptr, nullptr, &peaks);
        if (path == 2) info.inPlace(in, out, 0, kFrames, gains, nullptr, nullptr, nullptr, nullptr);
        if (path == 3)
            for (int at = 0; at < kFrames; at += kLanes)
                info.separate(in, out, at, kLanes, gains, &lanes, nullptr, nullptr, nullptr);
    }
    return 0;
}
