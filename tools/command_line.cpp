#include "command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tools {

namespace {

constexpr int kMaxArgumentFileDepth = 8;

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string unquote(const std::string& s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}


bool readArgumentFile(const std::string& path, int depth, std::vector<std::string>& out, std::string& error) {
    if (depth > kMaxArgumentFileDepth) {
        error = "argument files nest more than " + std::to_string(kMaxArgumentFileDepth) + " deep at @" + path +
                " (does a file name itself?)";
        return false;
    }
    if (path.empty()) {
        error = "\"@\" names no argument file; write @FILE, as in @session.txt";
        return false;
    }
    if (!checkReadable("the argument file", path, error)) return false;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        line = trim(line);  // also drops a carriage return
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '@') {
            if (!readArgumentFile(line.substr(1), depth + 1, out, error)) return false;
            continue;
        }
        const size_t space = line.find_first_of(" \t");
        if (line[0] == '-' && space != std::string::npos && line.find('=') > space) {
            out.push_back(line.substr(0, space));
            out.push_back(unquote(trim(line.substr(space))));
        } else {
            out.push_back(unquote(line));
        }
    }
    if (file.bad()) {
        error = "cannot read the argument file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

bool expandArgumentFiles(std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> expanded;
    for (const auto& arg : args) {
        if (arg.empty() || arg[0] != '@') {
            expanded.push_back(arg);
            continue;
        }
        if (!readArgumentFile(arg.substr(1), 1, expanded, error)) return false;
    }
    args = std::move(expanded);
    return true;
}

std::string nearestWord(const std::string& typed, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const auto& c : candidates) {
        const size_t d = editDistance(typed, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    // Near enough: a slip of a key or two, never most of the word.
    const size_t allowed = std::max<size_t>(1, std::min<size_t>(3, typed.size() / 3));
    return bestDistance <= allowed ? best : std::string();
}

bool parseWholeNumber(const std::string& option, const std::string& text, const std::string& form,
                      const std::string& example, int& value, std::string& error) {
    const std::string t = trim(text);
    const bool digits = !t.empty() && std::all_of(t.begin() + (t[0] == '-' ? 1 : 0), t.end(), [](char c) {
        return c >= '0' && c <= '9';
    }) && t != "-";
    if (digits) {
        errno = 0;
        const long long v = std::strtoll(t.c_str(), nullptr, 10);
        if (errno != ERANGE && v >= INT32_MIN && v <= INT32_MAX) {
            value = static_cast<int>(v);
            return true;
        }
    }
    std::string hint = example;
    // "44.1k", "48 kHz": the same number in whole units.
    char* end = nullptr;
    const double number = std::strtod(t.c_str(), &end);
    const std::string unit = lower(trim(end != nullptr ? end : ""));
    if (end != t.c_str() && std::isfinite(number) && (unit == "k" || unit == "khz") && number > 0 && number < 1e6)
        hint = option + " " + std::to_string(std::llround(number * 1000.0));
    error = option + " takes " + form + ", as in " + hint + "; not \"" + text + "\"";
    return false;
}

bool parseSeconds(const std::string& option, const std::string& text, double& value, std::string& error) {
    const std::string t = trim(text);
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    std::string rest = lower(trim(end != nullptr ? end : ""));
    if (end != t.c_str() && (rest.empty() || rest == "s") && t.find_first_of("xX") == std::string::npos) {
        value = v;  // its range is checked where it is used
        return true;
    }
    error = option + " takes seconds as a number, as in " + option + " 2.5; not \"" + text + "\"";
    return false;
}

bool checkReadable(const std::string& what, const std::string& path, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            error = what + " " + path + " does not exist";
        else
            error = "cannot read " + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = what + " " + path + " is a folder, not a file";
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        error = "cannot read " + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool looksLikeAudio(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos) return false;
    const std::string ext = lower(path.substr(dot + 1));
    for (const char* audio : {"wav", "wave", "flac", "aif", "aiff", "ogg", "oga", "opus", "mp3", "w64", "caf", "rf64"})
        if (ext == audio) return true;
    return false;
}

}  // namespace tools
