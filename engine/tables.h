// The mixer's fixed facts, each in one table: sizes, the output layout,
// the gain law, the parameter table (name, LV2 symbol and controller per
// parameter; kind, default and panel scale derived from its index), the
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
constexpr int kMaxQueuedEvents = 255;

// Every signal is a stereo pair: side 0 left, side 1 right.
enum Side : int { kLeft = 0, kRight = 1 };

// The inputs: channel c's pair (c counted from 0) at 2c and 2c + 1.
constexpr int kNumInputs = 2 * kNumChannels;  // 32
constexpr int channelInput(int channel, Side side) { return 2 * channel + side; }

// The outputs: the three stereo buses first, then every channel's own
// direct pair (its share of the main mix).
enum Bus : int { kMainBus, kSend1Bus, kSend2Bus, kNumBuses };
constexpr int busOutput(Bus bus, Side side) { return 2 * bus + side; }
constexpr int kFirstDirectOutput = 2 * kNumBuses;  // 6
constexpr int directOutput(int channel, Side side) { return kFirstDirectOutput + 2 * channel + side; }
constexpr int kNumOutputs = kFirstDirectOutput + 2 * kNumChannels;  // 38

// The six signals a channel feeds, in the order the mixer keeps them, and
// the bus output each one is summed into.
enum Feed : int { kMainLeft, kSend1Left, kSend2Left, kMainRight, kSend1Right, kSend2Right, kNumFeeds };
inline constexpr int kFeedOutput[kNumFeeds] = {
    busOutput(kMainBus, kLeft),  busOutput(kSend1Bus, kLeft),  busOutput(kSend2Bus, kLeft),
    busOutput(kMainBus, kRight), busOutput(kSend1Bus, kRight), busOutput(kSend2Bus, kRight),
};
constexpr Side sideOf(Feed feed) { return feed < kMainRight ? kLeft : kRight; }
// The feeds of each bus's left and right sides.
inline constexpr Feed kBusFeed[kNumBuses][2] = {
    {kMainLeft, kMainRight}, {kSend1Left, kSend1Right}, {kSend2Left, kSend2Right}};
// The direct pair carries the main feeds.
inline constexpr Feed kDirectFeed[2] = {kMainLeft, kMainRight};

// A parameter's index is 4 x strip + kind.
enum ParamKind : int { kPan = 0, kVolume = 1, kSend1 = 2, kSend2 = 3 };
constexpr int paramIndex(int strip, ParamKind kind) { return kNumKinds * strip + kind; }
constexpr ParamKind kindOf(int index) { return static_cast<ParamKind>(index % kNumKinds); }
constexpr int stripOf(int index) { return index / kNumKinds; }
constexpr bool isParameterIndex(int32_t index) { return static_cast<uint32_t>(index) < kNumParams; }

// The gain law. A pan of kPanCentre is the middle. A master level acts as
// v x kMasterFactor and a channel level as v / kUnityChannelLevel, so those
// are unity: every level parameter rests at unity gain, every send at 0.
constexpr float kPanCentre = 0.5f;
constexpr float kUnityChannelLevel = 0.78125f;
constexpr float kMasterFactor = 4.0f;
constexpr float kUnityMasterLevel = 1.0f / kMasterFactor;

// How the panel shows a stored value v (nominally 0..1): shown = (v - offset)
// x scale, followed by the unit. A pan shows -1 (left) to 1 (right); a level
// shows the gain it gives in percent.
struct PanelScale {
    double scale;
    double offset;
    const char* unit;
};
inline constexpr PanelScale kPanScale = {1.0 / kPanCentre, kPanCentre, ""};            // -1 .. 1
inline constexpr PanelScale kMasterLevelScale = {100.0 * kMasterFactor, 0.0, "%"};      // 0 .. 400 %
inline constexpr PanelScale kChannelLevelScale = {100.0 / kUnityChannelLevel, 0.0, "%"};  // 0 .. 128 %

struct ParameterInfo {
    const char* name;    // the panel's name
    const char* symbol;  // the LV2 port symbol
    ParamKind kind;
    float defaultValue;  // in the store's range
    const PanelScale* panel;
    uint8_t controller;  // MIDI control change number
};

// What the table says per parameter; the rest follows from its index.
struct ParameterRow {
    const char* name;
    const char* symbol;
    uint8_t controller;
};

// Every parameter, in index order. The controller numbers run downward
// through 119..102, 90..85, 63..39, 37..33, 31..20, 15, 14.
inline constexpr ParameterRow kParameterRows[kNumParams] = {
    {"Master Panpot", "master_pan", 119},
    {"Master Volume", "master_volume", 118},
    {"Master Send 1", "master_send1", 117},
    {"Master Send 2", "master_send2", 116},
    {"Ch.01 Panpot", "ch01_pan", 115},
    {"Ch.01 Volume", "ch01_volume", 114},
    {"Ch.01 Send 1", "ch01_send1", 113},
    {"Ch.01 Send 2", "ch01_send2", 112},
    {"Ch.02 Panpot", "ch02_pan", 111},
    {"Ch.02 Volume", "ch02_volume", 110},
    {"Ch.02 Send 1", "ch02_send1", 109},
    {"Ch.02 Send 2", "ch02_send2", 108},
    {"Ch.03 Panpot", "ch03_pan", 107},
    {"Ch.03 Volume", "ch03_volume", 106},
    {"Ch.03 Send 1", "ch03_send1", 105},
    {"Ch.03 Send 2", "ch03_send2", 104},
    {"Ch.04 Panpot", "ch04_pan", 103},
    {"Ch.04 Volume", "ch04_volume", 102},
    {"Ch.04 Send 1", "ch04_send1", 90},
    {"Ch.04 Send 2", "ch04_send2", 89},
    {"Ch.05 Panpot", "ch05_pan", 88},
    {"Ch.05 Volume", "ch05_volume", 87},
    {"Ch.05 Send 1", "ch05_send1", 86},
    {"Ch.05 Send 2", "ch05_send2", 85},
    {"Ch.06 Panpot", "ch06_pan", 63},
    {"Ch.06 Volume", "ch06_volume", 62},
    {"Ch.06 Send 1", "ch06_send1", 61},
    {"Ch.06 Send 2", "ch06_send2", 60},
    {"Ch.07 Panpot", "ch07_pan", 59},
    {"Ch.07 Volume", "ch07_volume", 58},
    {"Ch.07 Send 1", "ch07_send1", 57},
    {"Ch.07 Send 2", "ch07_send2", 56},
    {"Ch.08 Panpot", "ch08_pan", 55},
    {"Ch.08 Volume", "ch08_volume", 54},
    {"Ch.08 Send 1", "ch08_send1", 53},
    {"Ch.08 Send 2", "ch08_send2", 52},
    {"Ch.09 Panpot", "ch09_pan", 51},
    {"Ch.09 Volume", "ch09_volume", 50},
    {"Ch.09 Send 1", "ch09_send1", 49},
    {"Ch.09 Send 2", "ch09_send2", 48},
    {"Ch.10 Panpot", "ch10_pan", 47},
    {"Ch.10 Volume", "ch10_volume", 46},
    {"Ch.10 Send 1", "ch10_send1", 45},
    {"Ch.10 Send 2", "ch10_send2", 44},
    {"Ch.11 Panpot", "ch11_pan", 43},
    {"Ch.11 Volume", "ch11_volume", 42},
    {"Ch.11 Send 1", "ch11_send1", 41},
    {"Ch.11 Send 2", "ch11_send2", 40},
    {"Ch.12 Panpot", "ch12_pan", 39},
    {"Ch.12 Volume", "ch12_volume", 37},
    {"Ch.12 Send 1", "ch12_send1", 36},
    {"Ch.12 Send 2", "ch12_send2", 35},
    {"Ch.13 Panpot", "ch13_pan", 34},
    {"Ch.13 Volume", "ch13_volume", 33},
    {"Ch.13 Send 1", "ch13_send1", 31},
    {"Ch.13 Send 2", "ch13_send2", 30},
    {"Ch.14 Panpot", "ch14_pan", 29},
    {"Ch.14 Volume", "ch14_volume", 28},
    {"Ch.14 Send 1", "ch14_send1", 27},
    {"Ch.14 Send 2", "ch14_send2", 26},
    {"Ch.15 Panpot", "ch15_pan", 25},
    {"Ch.15 Volume", "ch15_volume", 24},
    {"Ch.15 Send 1", "ch15_send1", 23},
    {"Ch.15 Send 2", "ch15_send2", 22},
    {"Ch.16 Panpot", "ch16_pan", 21},
    {"Ch.16 Volume", "ch16_volume", 20},
    {"Ch.16 Send 1", "ch16_send1", 15},
    {"Ch.16 Send 2", "ch16_send2", 14},
};

// Kind, default and panel scale of the parameter at `index`.
constexpr ParameterInfo parameterInfo(int index) {
    const ParameterRow& row = kParameterRows[index];
    const ParamKind kind = kindOf(index);
    const bool master = stripOf(index) == 0;
    if (kind == kPan) return {row.name, row.symbol, kind, kPanCentre, &kPanScale, row.controller};
    const PanelScale* panel = master ? &kMasterLevelScale : &kChannelLevelScale;
    const float unity = master ? kUnityMasterLevel : kUnityChannelLevel;
    // Every level but a channel's sends rests at unity.
    const float rest = master || kind == kVolume ? unity : 0.0f;
    return {row.name, row.symbol, kind, rest, panel, row.controller};
}
constexpr std::array<ParameterInfo, kNumParams> makeParameters() {
    std::array<ParameterInfo, kNumParams> table{};
    for (int index = 0; index < kNumParams; ++index) table[index] = parameterInfo(index);
    return table;
}
inline constexpr std::array<ParameterInfo, kNumParams> kParameters = makeParameters();

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

// Beyond the 68 parameters: the engine's switches and its smoothing, which
// a face may offer (the LV2 edition does; the VST 2.4 edition has none of
// them and never smooths). Together with the parameters they are the
// controls, one index space: 0..67 the parameters, then each channel's
// mute, solo and polarity, then the smoothing time.
enum SwitchKind : int { kMute = 0, kSolo = 1, kPolarity = 2, kNumSwitchKinds = 3 };
constexpr int kNumSwitches = kNumChannels * kNumSwitchKinds;  // 48
constexpr int kFirstSwitch = kNumParams;                      // 68
constexpr int switchControl(int channel, SwitchKind kind) { return kFirstSwitch + kNumSwitchKinds * channel + kind; }
constexpr int kSmoothingControl = kFirstSwitch + kNumSwitches;  // 116
constexpr int kNumControls = kSmoothingControl + 1;             // 117
constexpr bool isControlIndex(int32_t index) { return static_cast<uint32_t>(index) < kNumControls; }
constexpr bool isSwitch(int index) { return index >= kFirstSwitch && index < kSmoothingControl; }
constexpr int channelOfSwitch(int index) { return (index - kFirstSwitch) / kNumSwitchKinds; }
constexpr SwitchKind kindOfSwitch(int index) { return static_cast<SwitchKind>((index - kFirstSwitch) % kNumSwitchKinds); }

// A switch's name and symbol follow its channel's ("Ch.01 Mute", "ch01_mute").
struct SwitchRow {
    const char* name;
    const char* symbol;
};
inline constexpr SwitchRow kSwitchRows[kNumSwitchKinds] = {{"Mute", "mute"}, {"Solo", "solo"}, {"Polarity", "polarity"}};
// A switch is on when its value is above this; off rests at 0.
constexpr float kSwitchThreshold = 0.0f;

// The smoothing: every change of a gain (a parameter, a MIDI move, a
// switch) moves linearly from the old gain to the new over this time.
struct SmoothingInfo {
    const char* name;
    const char* symbol;
    float minimumMs, maximumMs, defaultMs;
};
inline constexpr SmoothingInfo kSmoothing = {"Smoothing", "smoothing", 0.0f, 100.0f, 5.0f};
// The longest ramp in frames, whatever the sample rate (so every position
// in a ramp is an exact float).
constexpr int32_t kMaxRampFrames = 1 << 20;

// A control's default, as the face offers it (the engine itself starts
// with smoothing off, so a face that does not offer it never smooths).
constexpr float controlDefault(int index) {
    return index < kNumParams ? defaultValue(index) : index == kSmoothingControl ? kSmoothing.defaultMs : 0.0f;
}

// The peak meters: one per output pair (pair p: outputs 2p and 2p + 1), in
// dBFS, rising at once, held, then falling at a steady rate to the floor.
constexpr int kNumPairs = kNumOutputs / 2;  // 19: main, send 1, send 2, every direct pair
constexpr int pairOf(int output) { return output / 2; }
struct MeterLaw {
    float floorDb;       // silence and anything below reads this
    float ceilingDb;     // the highest reading
    float holdSeconds;   // a peak stays this long
    float fallDbPerSecond;
};
inline constexpr MeterLaw kMeterLaw = {-90.0f, 24.0f, 0.5f, 20.0f};

// One audio pin: the label hosts show and the LV2 port symbol.
struct PinInfo {
    const char* label;
    const char* symbol;
};
extern const PinInfo kInputPins[kNumInputs];
extern const PinInfo kOutputPins[kNumOutputs];

}  // namespace tarnvale
