// tarnvale-host info: what a host sees of an effect module.
#pragma once

#include <ostream>
#include <string>

namespace tools {

// Loads the module, prints its identity, capabilities, pins and generic
// panel to out. Returns the process exit code; errors go to err.
int printInfo(const std::string& modulePath, std::ostream& out, std::ostream& err);

// The parameters alone, one line each: index, name, value as the panel
// shows it and, for Tarnvale, the MIDI controller that moves it.
int printParameterList(const std::string& modulePath, std::ostream& out, std::ostream& err);

}  // namespace tools
