#include "reference_mixer.h"

#include <cmath>

namespace reference {

namespace {
// Controller numbers by parameter index, as the controller chart lists them.
const int kControllers[kParams] = {
    119, 118, 117, 116,  // Master
    115, 114, 113, 112,  // Ch.01
    111, 110, 109, 108,  // Ch.02
    107, 106, 105, 104,  // Ch.03
    103, 102, 90,  89,   // Ch.04
    88,  87,  86,  85,   // Ch.05
    63,  62,  61,  60,   // Ch.06
    59,  58,  57,  56,   // Ch.07
    55,  54,  53,  52,   // Ch.08
    51,  50,  49,  48,   // Ch.09
    47,  46,  45,  44,   // Ch.10
    43,  42,  41,  40,   // Ch.11
    39,  37,  36,  35,   // Ch.12
    34,  33,  31,  30,   // Ch.13
    29,  28,  27,  26,   // Ch.14
    25,  24,  23,  22,   // Ch.15
    21,  20,  15,  14,   // Ch.16
};
}  // namespace

float Mixer::defaultOf(int index) {
    if (index < 4) return index == 0 ? 0.5f : 0.25f;  // master: pan centre, levels at unity
    const float channel[4] = {0.5f, 0.78125f, 0.0f, 0.0f};
    return channel[index % 4];
}

Mixer::Mixer() {
    for (int i = 0; i < kParams; ++i) params[i] = defaultOf(i);
}

int Mixer::parameterForController(int controller) {
    for (int i = 0; i < kParams; ++i)
        if (kControllers[i] == controller) return i;
    return -1;
}

void Mixer::queue(const std::vector<Midi>& events) {
    // Earlier events already due stay queued, in order; the rest are dropped.
    std::vector<Pending> kept;
    for (size_t i = next_; i < events_.size(); ++i)
        if (events_[i].due <= totalFrames_) kept.push_back(events_[i]);
    events_ = kept;
    next_ = 0;
    for (const Midi& m : events) {
        if (events_.size() == 255) break;
        events_.push_back({m, totalFrames_ + m.deltaFrames});
    }
}

void Mixer::midiStep(int32_t frame) {
    if (next_ >= events_.size()) return;
    if (events_[next_].due - totalFrames_ > frame) return;
    const Midi& m = events_[next_].midi;
    ++next_;
    if ((m.status & 0xF0) != 0xB0 || ((m.data1 | m.data2) & 0x80) != 0) return;  // not a valid control change
    const int index = parameterForController(m.data1);
    if (index < 0) return;
    const float value = m.data2 == 127 ? 1.0f : m.data2 / 128.0f;
    params[index] = value;
    automation.push_back({index, value, totalFrames_ + frame});
}

void Mixer::process(const float* const* in, float* const* out, int32_t frames) {
    for (int32_t n = 0; n < frames; ++n) {
        midiStep(n);
        float inL[kChannels], inR[kChannels];
        for (int c = 0; c < kChannels; ++c) {
            inL[c] = in[2 * c][n];
            inR[c] = in[2 * c + 1][n];
        }
        // A value that is not a finite number mixes as the parameter's default.
        float used[kParams];
        for (int i = 0; i < kParams; ++i) used[i] = std::isfinite(params[i]) ? params[i] : defaultOf(i);
        const float M = used[1] * 4.0f, A = used[2] * 4.0f, B = used[3] * 4.0f;
        float bus[6] = {0, 0, 0, 0, 0, 0};
        float direct[2 * kChannels];
        for (int c = 0; c < kChannels; ++c) {
            const float* p = &used[4 * (c + 1)];
            float e = static_cast<float>(static_cast<double>(p[0]) + used[0] - 0.5);
            if (e > 1.0f) e = 1.0f;
            else if (e < 0.0f) e = 0.0f;
            const float pan = 2.0f * e;
            const float pl = pan > 1.0f ? 2.0f - pan : 1.0f;
            const float pr = pan > 1.0f ? 1.0f : pan;
            const float g = p[1] / 0.78125f * M;
            const float g1 = p[2] / 0.78125f * A;
            const float g2 = p[3] / 0.78125f * B;
            const float mainLeft = inL[c] * g * pl, mainRight = inR[c] * g * pr;
            bus[0] += mainLeft;
            bus[1] += mainRight;
            bus[2] += inL[c] * g1 * pl;
            bus[3] += inR[c] * g1 * pr;
            bus[4] += inL[c] * g2 * pl;
            bus[5] += inR[c] * g2 * pr;
            direct[2 * c] = mainLeft;
            direct[2 * c + 1] = mainRight;
        }
        for (int k = 0; k < 6; ++k) out[k][n] = bus[k];
        for (int k = 0; k < 2 * kChannels; ++k) out[6 + k][n] = direct[k];
    }
    if (frames > 0) totalFrames_ += frames;
}

}  // namespace reference
