// The LV2 edition's face: its URIs (from the identity table), the order of
// its ports, their ranges and symbols, and its port groups, all derived
// from the engine's tables. The plug-in, the Turtle generator and the
// tests read them from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/tables.h"
#include "identity.h"

namespace tarnvale {
namespace lv2 {

inline constexpr const char* kPluginUri = identity::kLv2Uri;
inline constexpr const char* kProjectUri = identity::kHomepage;
inline constexpr const char* kBinary = "tarnvale_lv2.so";

// Port indexes, in this order: audio inputs (as the VST 2.4 input pins),
// audio outputs (as its output pins), the 68 parameters as control inputs
// in parameter order, the MIDI input, each parameter's current value as a
// control output; then what only this edition has: every channel's mute,
// solo and polarity (in the engine's control order), the smoothing time,
// and a peak meter per output pair.
constexpr uint32_t kFirstAudioIn = 0;
constexpr uint32_t kFirstAudioOut = kFirstAudioIn + kNumInputs;     // 32
constexpr uint32_t kFirstControl = kFirstAudioOut + kNumOutputs;    // 70
constexpr uint32_t kMidiIn = kFirstControl + kNumParams;            // 138
constexpr uint32_t kFirstValueOut = kMidiIn + 1;                    // 139
constexpr uint32_t kFirstSwitchPort = kFirstValueOut + kNumParams;  // 207
constexpr uint32_t kSmoothingPort = kFirstSwitchPort + kNumSwitches;  // 255
constexpr uint32_t kFirstMeterPort = kSmoothingPort + 1;            // 256
constexpr uint32_t kNumPorts = kFirstMeterPort + kNumPairs;         // 275

// The control input port of each engine control, and back.
constexpr uint32_t controlPort(int control) {
    return control < kNumParams ? kFirstControl + control : kFirstSwitchPort + (control - kNumParams);
}
static_assert(controlPort(kSmoothingControl) == kSmoothingPort, "the smoothing follows the switches");
// The control a port carries, or -1 for a port that is not a control input.
constexpr int controlOfPort(uint32_t port) {
    if (port >= kFirstControl && port < kMidiIn) return static_cast<int>(port - kFirstControl);
    if (port >= kFirstSwitchPort && port < kFirstMeterPort) return kNumParams + static_cast<int>(port - kFirstSwitchPort);
    return -1;
}

inline constexpr const char* kMidiSymbol = "midi_in";
inline constexpr const char* kMidiName = "MIDI In";
// A value output's symbol and name: the parameter's, with these after them.
inline constexpr const char* kValueSymbolSuffix = "_current";
inline constexpr const char* kValueNameSuffix = " (current)";
// A meter's symbol and name: its pair's (the left pin's without its side), with these after them.
inline constexpr const char* kMeterSymbolSuffix = "_peak";
inline constexpr const char* kMeterNameSuffix = " Peak";

// Control port values: the parameters as the VST 2.4 panel shows them
// (pans -1..1, levels in percent of unity gain), the switches 0 (off) or
// 1 (on), the smoothing in milliseconds.
inline float portValue(int control, float stored) {
    return control < kNumParams ? static_cast<float>(panelValue(control, stored)) : stored;
}
inline float storeValue(int control, float port) {
    return control < kNumParams ? static_cast<float>(storedValue(control, port)) : port;
}

// The range each control port declares, and its default, in port values.
struct PortRange {
    float minimum, maximum, defaultValue;
};
constexpr PortRange controlRange(int control) {
    if (control < kNumParams)
        return {static_cast<float>(panelValue(control, 0.0)), static_cast<float>(panelValue(control, 1.0)),
                static_cast<float>(panelValue(control, defaultValue(control)))};
    if (control == kSmoothingControl) return {kSmoothing.minimumMs, kSmoothing.maximumMs, kSmoothing.defaultMs};
    return {0.0f, 1.0f, 0.0f};  // a switch, off
}
// [any thread] pure. A control port's value held to its declared range;
// NaN stays NaN (the engine mixes it as the default).
inline float clampToRange(int control, float value) {
    const PortRange range = controlRange(control);
    return value < range.minimum ? range.minimum : value > range.maximum ? range.maximum : value;
}

// The meters' range in dBFS.
inline constexpr PortRange kMeterRange = {kMeterLaw.floorDb, kMeterLaw.ceilingDb, kMeterLaw.floorDb};

// [any thread] A pin symbol without its side ("ch01_l" -> "ch01"): the
// symbol of the pin's stereo group.
inline void pairSymbol(const PinInfo& left, char* out, size_t size) {
    const size_t length = std::strlen(left.symbol);
    std::snprintf(out, size, "%.*s", static_cast<int>(length > 2 ? length - 2 : length), left.symbol);
}

// [any thread] A control's symbol: the parameter's from the table; a
// switch's its channel's with the switch's ("ch01_mute"); the smoothing's.
inline void controlSymbol(int control, char* out, size_t size) {
    if (control < kNumParams) {
        std::snprintf(out, size, "%s", kParameters[control].symbol);
    } else if (control == kSmoothingControl) {
        std::snprintf(out, size, "%s", kSmoothing.symbol);
    } else {
        // The channel's symbol is its pan's up to the underscore.
        const char* pan = kParameters[paramIndex(channelOfSwitch(control) + 1, kPan)].symbol;
        std::snprintf(out, size, "%.*s_%s", static_cast<int>(std::strchr(pan, '_') - pan), pan,
                      kSwitchRows[kindOfSwitch(control)].symbol);
    }
}

// [any thread] A control's name, likewise ("Ch.01 Mute").
inline void controlName(int control, char* out, size_t size) {
    if (control < kNumParams) {
        std::snprintf(out, size, "%s", kParameters[control].name);
    } else if (control == kSmoothingControl) {
        std::snprintf(out, size, "%s", kSmoothing.name);
    } else {
        const char* pan = kParameters[paramIndex(channelOfSwitch(control) + 1, kPan)].name;
        std::snprintf(out, size, "%.*s %s", static_cast<int>(std::strchr(pan, ' ') - pan), pan,
                      kSwitchRows[kindOfSwitch(control)].name);
    }
}

}  // namespace lv2
}  // namespace tarnvale
