// tarnvale-host's exit codes: every failure gets one line on standard error
// and one of these.
#pragma once

namespace tools {

constexpr int kExitUsage = 2;   // bad arguments or input files
constexpr int kExitPlugin = 3;  // the module cannot be loaded or refuses
constexpr int kExitOutput = 4;  // outputs cannot be written

}  // namespace tools
