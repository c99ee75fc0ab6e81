// tarnvale-host demo: sixteen stems made in memory, mixed through the
// plug-in with a few settings and a controller sweep.
#pragma once

#include <ostream>
#include <string>

namespace tools {

int runDemo(const std::string& pluginPath, const std::string& outDir, std::ostream& out, std::ostream& err);

}  // namespace tools
