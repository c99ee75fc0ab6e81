// The lines a shell command prints, for tests that read a module's exports
// and imports with the ELF tools.
#pragma once

#include <cstdio>
#include <set>
#include <string>

namespace elf {

inline std::set<std::string> commandLines(const std::string& command) {
    std::set<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return lines;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (!s.empty()) lines.insert(s);
    }
    pclose(pipe);
    return lines;
}

// The shared libraries a module names as NEEDED.
inline std::set<std::string> neededLibraries(const std::string& module) {
    return commandLines("readelf -d '" + module + "' | sed -n 's/.*(NEEDED).*\\[\\(.*\\)\\]/\\1/p'");
}

// The symbols a module exports.
inline std::set<std::string> exportedSymbols(const std::string& module) {
    return commandLines("nm -D --defined-only '" + module + "' | awk '{print $3}'");
}

}  // namespace elf
