// The mixer's fixed facts, each in one table: sizes, the parameter table
// (name, LV2 symbol, kind, default, panel scale and unit, controller), the
// controller map derived from it, and the pin table. Both plug-in formats,
// the Turtle generator and the tools derive everything from these.
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

// How the panel shows a stored value v (nominally 0..1): shown = (v - offset)
// x scale, followed by the unit. A level shows the gain it gives in percent:
// a master level acts as v x 4, a channel level as v / 0.78125.
struct PanelScale {
    double scale;
    double offset;
    const char* unit;
};
inline constexpr PanelScale kPanScale = {2.0, 0.5, ""};            // -1 left .. 1 right
inline constexpr PanelScale kMasterLevelScale = {400.0, 0.0, "%"};  // 0 .. 400 %
inline constexpr PanelScale kChannelLevelScale = {128.0, 0.0, "%"}; // 0 .. 128 %

struct ParameterInfo {
    const char* name;    // the panel's name
    const char* symbol;  // the LV2 port symbol
    ParamKind kind;
    float defaultValue;  // in the store's range; both volume defaults give unity gain
    const PanelScale* panel;
    uint8_t controller;  // MIDI control change number
};

// Every parameter, in index order. The controller numbers run downward
// through 119..102, 90..85, 63..39, 37..33, 31..20, 15, 14.
inline constexpr ParameterInfo kParameters[kNumParams] = {
    {"Master Panpot", "master_pan", kPan, 0.5f, &kPanScale, 119},
    {"Master Volume", "master_volume", kVolume, 0.25f, &kMasterLevelScale, 118},
    {"Master Send 1", "master_send1", kSend1, 0.25f, &kMasterLevelScale, 117},
    {"Master Send 2", "master_send2", kSend2, 0.25f, &kMasterLevelScale, 116},
    {"Ch.01 Panpot", "ch01_pan", kPan, 0.5f, &kPanScale, 115},
    {"Ch.01 Volume", "ch01_volume", kVolume, 0.78125f, &kChannelLevelScale, 114},
    {"Ch.01 Send 1", "ch01_send1", kSend1, 0.0f, &kChannelLevelScale, 113},
    {"Ch.01 Send 2", "ch01_send2", kSend2, 0.0f, &kChannelLevelScale, 112},
    {"Ch.02 Panpot", "ch02_pan", kPan, 0.5f, &kPanScale, 111},
    {"Ch.02 Volume", "ch02_volume", kVolume, 0.78125f, &kChannelLevelScale, 110},
    {"Ch.02 Send 1", "ch02_send1", kSend1, 0.0f, &kChannelLevelScale, 109},
    {"Ch.02 Send 2", "ch02_send2", kSend2, 0.0f, &kChannelLevelScale, 108},
    {"Ch.03 Panpot", "ch03_pan", kPan, 0.5f, &kPanScale, 107},
    {"Ch.03 Volume", "ch03_volume", kVolume, 0.78125f, &kChannelLevelScale, 106},
    {"Ch.03 Send 1", "ch03_send1", kSend1, 0.0f, &kChannelLevelScale, 105},
    {"Ch.03 Send 2", "ch03_send2", kSend2, 0.0f, &kChannelLevelScale, 104},
    {"Ch.04 Panpot", "ch04_pan", kPan, 0.5f, &kPanScale, 103},
    {"Ch.04 Volume", "ch04_volume", kVolume, 0.78125f, &kChannelLevelScale, 102},
    {"Ch.04 Send 1", "ch04_send1", kSend1, 0.0f, &kChannelLevelScale, 90},
    {"Ch.04 Send 2", "ch04_send2", kSend2, 0.0f, &kChannelLevelScale, 89},
    {"Ch.05 Panpot", "ch05_pan", kPan, 0.5f, &kPanScale, 88},
    {"Ch.05 Volume", "ch05_volume", kVolume, 0.78125f, &kChannelLevelScale, 87},
    {"Ch.05 Send 1", "ch05_send1", kSend1, 0.0f, &kChannelLevelScale, 86},
    {"Ch.05 Send 2", "ch05_send2", kSend2, 0.0f, &kChannelLevelScale, 85},
    {"Ch.06 Panpot", "ch06_pan", kPan, 0.5f, &kPanScale, 63},
    {"Ch.06 Volume", "ch06_volume", kVolume, 0.78125f, &kChannelLevelScale, 62},
    {"Ch.06 Send 1", "ch06_send1", kSend1, 0.0f, &kChannelLevelScale, 61},
    {"Ch.06 Send 2", "ch06_send2", kSend2, 0.0f, &kChannelLevelScale, 60},
    {"Ch.07 Panpot", "ch07_pan", kPan, 0.5f, &kPanScale, 59},
    {"Ch.07 Volume", "ch07_volume", kVolume, 0.78125f, &kChannelLevelScale, 58},
    {"Ch.07 Send 1", "ch07_send1", kSend1, 0.0f, &kChannelLevelScale, 57},
    {"Ch.07 Send 2", "ch07_send2", kSend2, 0.0f, &kChannelLevelScale, 56},
    {"Ch.08 Panpot", "ch08_pan", kPan, 0.5f, &kPanScale, 55},
    {"Ch.08 Volume", "ch08_volume", kVolume, 0.78125f, &kChannelLevelScale, 54},
    {"Ch.08 Send 1", "ch08_send1", kSend1, 0.0f, &kChannelLevelScale, 53},
    {"Ch.08 Send 2", "ch08_send2", kSend2, 0.0f, &kChannelLevelScale, 52},
    {"Ch.09 Panpot", "ch09_pan", kPan, 0.5f, &kPanScale, 51},
    {"Ch.09 Volume", "ch09_volume", kVolume, 0.78125f, &kChannelLevelScale, 50},
    {"Ch.09 Send 1", "ch09_send1", kSend1, 0.0f, &kChannelLevelScale, 49},
    {"Ch.09 Send 2", "ch09_send2", kSend2, 0.0f, &kChannelLevelScale, 48},
    {"Ch.10 Panpot", "ch10_pan", kPan, 0.5f, &kPanScale, 47},
    {"Ch.10 Volume", "ch10_volume", kVolume, 0.78125f, &kChannelLevelScale, 46},
    {"Ch.10 Send 1", "ch10_send1", kSend1, 0.0f, &kChannelLevelScale, 45},
    {"Ch.10 Send 2", "ch10_send2", kSend2, 0.0f, &kChannelLevelScale, 44},
    {"Ch.11 Panpot", "ch11_pan", kPan, 0.5f, &kPanScale, 43},
    {"Ch.11 Volume", "ch11_volume", kVolume, 0.78125f, &kChannelLevelScale, 42},
    {"Ch.11 Send 1", "ch11_send1", kSend1, 0.0f, &kChannelLevelScale, 41},
    {"Ch.11 Send 2", "ch11_send2", kSend2, 0.0f, &kChannelLevelScale, 40},
    {"Ch.12 Panpot", "ch12_pan", kPan, 0.5f, &kPanScale, 39},
    {"Ch.12 Volume", "ch12_volume", kVolume, 0.78125f, &kChannelLevelScale, 37},
    {"Ch.12 Send 1", "ch12_send1", kSend1, 0.0f, &kChannelLevelScale, 36},
    {"Ch.12 Send 2", "ch12_send2", kSend2, 0.0f, &kChannelLevelScale, 35},
    {"Ch.13 Panpot", "ch13_pan", kPan, 0.5f, &kPanScale, 34},
    {"Ch.13 Volume", "ch13_volume", kVolume, 0.78125f, &kChannelLevelScale, 33},
    {"Ch.13 Send 1", "ch13_send1", kSend1, 0.0f, &kChannelLevelScale, 31},
    {"Ch.13 Send 2", "ch13_send2", kSend2, 0.0f, &kChannelLevelScale, 30},
    {"Ch.14 Panpot", "ch14_pan", kPan, 0.5f, &kPanScale, 29},
    {"Ch.14 Volume", "ch14_volume", kVolume, 0.78125f, &kChannelLevelScale, 28},
    {"Ch.14 Send 1", "ch14_send1", kSend1, 0.0f, &kChannelLevelScale, 27},
    {"Ch.14 Send 2", "ch14_send2", kSend2, 0.0f, &kChannelLevelScale, 26},
    {"Ch.15 Panpot", "ch15_pan", kPan, 0.5f, &kPanScale, 25},
    {"Ch.15 Volume", "ch15_volume", kVolume, 0.78125f, &kChannelLevelScale, 24},
    {"Ch.15 Send 1", "ch15_send1", kSend1, 0.0f, &kChannelLevelScale, 23},
    {"Ch.15 Send 2", "ch15_send2", kSend2, 0.0f, &kChannelLevelScale, 22},
    {"Ch.16 Panpot", "ch16_pan", kPan, 0.5f, &kPanScale, 21},
    {"Ch.16 Volume", "ch16_volume", kVolume, 0.78125f, &kChannelLevelScale, 20},
    {"Ch.16 Send 1", "ch16_send1", kSend1, 0.0f, &kChannelLevelScale, 15},
    {"Ch.16 Send 2", "ch16_send2", kSend2, 0.0f, &kChannelLevelScale, 14},
};

constexpr float defaultValue(int index) { return kParameters[index].defaultValue; }

// The panel's number for a stored value, and the stored value for a panel
// number (exact at the defaults: 100 % and pan 0 map back to them).
constexpr double panelValue(int index, double stored) {
    return (stored - kParameters[index].panel->offset) * kParameters[index].panel->scale;
}
constexpr double storedValue(int index, double shown) {
    return shown / kParameters[index].panel->scale + kParameters[index].panel->offset;
}

constexpr uint8_t kNoParameter = 255;

// The inverse controller map, built once at compile time: parameter index
// for each of the 256 values a data byte can hold, or kNoParameter.
constexpr std::array<uint8_t, 256> makeParameterForController() {
    std::array<uint8_t, 256> map{};
    for (auto& entry : map) entry = kNoParameter;
    for (int index = 0; index < kNumParams; ++index) map[kParameters[index].controller] = static_cast<uint8_t>(index);
    return map;
}
inline constexpr std::array<uint8_t, 256> kParameterForController = makeParameterForController();

// A controller value as a parameter value: v / 128, except that 127 is 1.
constexpr float controllerValue(uint8_t v) { return v == 127 ? 1.0f : static_cast<float>(v) * 0.0078125f; }

// One audio pin: the label hosts show and the LV2 port symbol.
struct PinInfo {
    const char* label;
    const char* symbol;
};
extern const PinInfo kInputPins[kNumInputs];
extern const PinInfo kOutputPins[kNumOutputs];

}  // namespace tarnvale
