// The mixer's fixed facts: sizes, the parameter index rule, defaults, the
// controller map, names and pin labels.
#pragma once

#include <array>
#include <cstdint>

namespace tarnvale {

constexpr int kNumChannels = 16;
constexpr int kNumStrips = kNumChannels + 1;  // strip 0 is the master section
constexpr int kNumKinds = 4;
constexpr int kNumParams = kNumStrips * kNumKinds;  // 68
constexpr int kNumInputs = 2 * kNumChannels;        // 32
constexpr int kNumOutputs = 6 + 2 * kNumChannels;   // 38
constexpr int kMaxQueuedEvents = 255;

// A parameter's index is 4 x strip + kind.
enum ParamKind : int { kPan = 0, kVolume = 1, kSend1 = 2, kSend2 = 3 };
constexpr int paramIndex(int strip, ParamKind kind) { return kNumKinds * strip + kind; }
constexpr ParamKind kindOf(int index) { return static_cast<ParamKind>(index % kNumKinds); }
constexpr int stripOf(int index) { return index / kNumKinds; }
constexpr bool isParameterIndex(int32_t index) { return static_cast<uint32_t>(index) < kNumParams; }

// Defaults by kind: the master strip's, then every channel strip's. Both
// volume defaults give unity gain.
constexpr float kMasterDefaults[kNumKinds] = {0.5f, 0.25f, 0.25f, 0.25f};
constexpr float kChannelDefaults[kNumKinds] = {0.5f, 0.78125f, 0.0f, 0.0f};
constexpr float defaultValue(int index) {
    return stripOf(index) == 0 ? kMasterDefaults[kindOf(index)] : kChannelDefaults[kindOf(index)];
}

// Controller number for each parameter index, the numbers running downward
// through 119..102, 90..85, 63..39, 37..33, 31..20, 15, 14.
inline constexpr std::array<uint8_t, kNumParams> kControllerForParameter = {{
    119, 118, 117, 116,
    115, 114, 113, 112,
    111, 110, 109, 108,
    107, 106, 105, 104,
    103, 102, 90, 89,
    88, 87, 86, 85,
    63, 62, 61, 60,
    59, 58, 57, 56,
    55, 54, 53, 52,
    51, 50, 49, 48,
    47, 46, 45, 44,
    43, 42, 41, 40,
    39, 37, 36, 35,
    34, 33, 31, 30,
    29, 28, 27, 26,
    25, 24, 23, 22,
    21, 20, 15, 14,
}};


constexpr uint8_t kNoParameter = 255;

// The inverse map, built once at compile time: parameter index for each of
// the 256 values a data byte can hold, or kNoParameter.
constexpr std::array<uint8_t, 256> makeParameterForController() {
    std::array<uint8_t, 256> map{};
    for (auto& entry : map) entry = kNoParameter;
    for (int index = 0; index < kNumParams; ++index) map[kControllerForParameter[index]] = static_cast<uint8_t>(index);
    return map;
}
inline constexpr std::array<uint8_t, 256> kParameterForController = makeParameterForController();

// A controller value as a parameter value: v / 128, except that 127 is 1.
constexpr float controllerValue(uint8_t v) { return v == 127 ? 1.0f : static_cast<float>(v) * 0.0078125f; }

extern const char* const kParameterNames[kNumParams];
extern const char* const kInputPinLabels[kNumInputs];
extern const char* const kOutputPinLabels[kNumOutputs];

}  // namespace tarnvale
