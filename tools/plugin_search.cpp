#include "plugin_search.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace tools {

namespace {

// The folder this program runs from.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    return fs::path(std::string(path, static_cast<size_t>(n))).parent_path().string();
}

}  // namespace

std::vector<std::string> pluginSearchPath() {
    const std::string self = programFolder();
    std::vector<std::string> folders{self, (fs::path(self) / ".." / "lib" / "vst").lexically_normal().string()};
    if (const char* vstPath = std::getenv("VST_PATH")) {
        const std::string list = vstPath;
        size_t from = 0;
        while (from <= list.size()) {
            const size_t colon = list.find(':', from);
            const std::string folder = list.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
            if (!folder.empty()) folders.push_back(folder);
            if (colon == std::string::npos) break;
            from = colon + 1;
        }
    }
    if (const char* home = std::getenv("HOME")) folders.push_back((fs::path(home) / ".vst").string());
    folders.push_back("/usr/local/lib/vst");
    folders.push_back("/usr/lib/vst");
    return folders;
}

std::string findTarnvale() {
    for (const auto& folder : pluginSearchPath()) {
        const fs::path candidate = fs::path(folder) / "tarnvale.so";
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    return {};
}

}  // namespace tools
