// Where tarnvale-host finds Tarnvale when no module is named.
#pragma once

#include <string>
#include <vector>

namespace tools {

// The folders searched for tarnvale.so, in order: beside this program and
// in its installation's lib/vst, then each folder of VST_PATH, ~/.vst,
// /usr/local/lib/vst and /usr/lib/vst.
std::vector<std::string> pluginSearchPath();

// The first tarnvale.so in those folders, or empty when none holds one.
std::string findTarnvale();

}  // namespace tools
