// The LV2 edition's face: its URIs (from the identity table) and the order of its ports, all derived
// from the engine's tables. The plug-in, the Turtle generator and the tests
// read them from here.
#pragma once

#include <cstdint>

#include "engine/tables.h"
#include "identity.h"

namespace tarnvale {
namespace lv2 {

inline constexpr const char* kPluginUri = identity::kLv2Uri;
inline constexpr const char* kProjectUri = identity::kHomepage;
inline constexpr const char* kBinary = "tarnvale_lv2.so";

// Port indexes, in this order: audio inputs (as the VST 2.4 input pins),
// audio outputs (as its output pins), the 68 parameters as control inputs
// in parameter order, the MIDI input, then each parameter's current value
// as a control output.
constexpr uint32_t kFirstAudioIn = 0;
constexpr uint32_t kFirstAudioOut = kFirstAudioIn + kNumInputs;     // 32
constexpr uint32_t kFirstControl = kFirstAudioOut + kNumOutputs;    // 70
constexpr uint32_t kMidiIn = kFirstControl + kNumParams;            // 138
constexpr uint32_t kFirstValueOut = kMidiIn + 1;                    // 139
constexpr uint32_t kNumPorts = kFirstValueOut + kNumParams;         // 207

inline constexpr const char* kMidiSymbol = "midi_in";
inline constexpr const char* kMidiName = "MIDI In";
// A value output's symbol and name: the parameter's, with these after them.
inline constexpr const char* kValueSymbolSuffix = "_current";
inline constexpr const char* kValueNameSuffix = " (current)";

// Control port values are what the VST 2.4 panel shows: pans -1..1, levels
// in percent of unity gain.
inline float portValue(int index, float stored) { return static_cast<float>(panelValue(index, stored)); }
inline float storeValue(int index, float port) { return static_cast<float>(storedValue(index, port)); }

}  // namespace lv2
}  // namespace tarnvale
