// Counts in messages: "1 file", "2 files".
#pragma once

#include <string>

namespace tools {

inline std::string counted(size_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace tools
