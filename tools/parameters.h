// --set NAME=VALUE: finding a parameter by name or index and reading a value
// as the panel shows it. Tarnvale's parameters are read with the engine's
// own tables (its levels in percent or dB, its pans from -1 to 1, each
// mapped to the exact value where one exists); other effects' with nothing
// but their own texts.
#pragma once

#include <string>

#include "engine/tables.h"
#include "host/vst_host.h"

namespace tools {

struct ParameterSetting {
    VstInt32 index = -1;
    float value = 0.0f;
    // The value as it was given, where the panel shows it otherwise (a
    // level given in dB, a raw value, or a number the panel's text cuts).
    std::string given;
};

// Resolves "NAME=VALUE" against the effect. NAME is a parameter's name, in
// any case, or its index. VALUE, for Tarnvale's levels, is a gain in
// percent ("64%") or in dB ("-6dB", "-inf dB"), for its pans a plain number
// from -1 (left) to 1 (right); for other effects a number with the
// parameter's unit, or a plain number where the panel shows no unit. A
// number followed by "raw" is the stored 0..1 value of any parameter. A
// plain number for a parameter that has a unit is refused, with the forms
// it could have meant. False with a one-line reason.
bool resolveSetting(vsthost::Plugin& plugin, const std::string& assignment, ParameterSetting& setting, std::string& error);

// "Ch.03 Volume = 64.00 %": the effect's own name, value text and unit.
std::string describeParameter(vsthost::Plugin& plugin, VstInt32 index);
// The echo of a setting: the panel's text, and how it was given where that
// differs ("Ch.03 Volume = 50.11 % (given as -6dB)").
std::string describeSetting(vsthost::Plugin& plugin, const ParameterSetting& setting);

// Tarnvale's table entry for the parameter at index, or null when the
// effect is not Tarnvale.
const tarnvale::ParameterInfo* tarnvaleParameter(vsthost::Plugin& plugin, VstInt32 index);

}  // namespace tools
