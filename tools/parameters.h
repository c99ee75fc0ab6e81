// --set NAME=VALUE: finding a parameter by name or index and a value as
// 0..1 or as the panel shows it, using only the effect's own texts.
#pragma once

#include <string>

#include "host/vst_host.h"

namespace tools {

struct ParameterSetting {
    VstInt32 index = -1;
    float value = 0.0f;
};

// Resolves "NAME=VALUE" against the effect: NAME is a parameter's exact name
// or its index. VALUE is a number followed by the parameter's unit ("64%"),
// read as the panel shows it; a plain number, read as the panel shows it
// where the panel shows a number with no unit (Tarnvale's pans, -1 left to
// 1 right) and as the stored 0..1 value elsewhere; or a number followed by
// "raw", the stored 0..1 value of any parameter. False with a one-line reason.
bool resolveSetting(vsthost::Plugin& plugin, const std::string& assignment, ParameterSetting& setting, std::string& error);

// "Ch.03 Volume = 64.00 %": the effect's own name, value text and unit.
std::string describeParameter(vsthost::Plugin& plugin, VstInt32 index);

}  // namespace tools
