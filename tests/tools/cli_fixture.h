// tarnvale-host's command-line tests share this: running the tool with
// arguments in a scratch folder, and writing the small files it reads.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "midi_bytes.h"

namespace clitest {

namespace fs = std::filesystem;

struct Outcome {
    int code;
    std::string out, err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The shell words that start a program of this build: its path, after the
// emulator that runs it in a build for another processor.
inline std::string programCommand(const std::string& path) {
    const std::string launcher = TARNVALE_LAUNCHER;
    return launcher.empty() ? quote(path) : quote(launcher) + " " + quote(path);
}

#ifdef FAIL_RENAME_PATH
// The environment words that preload the tests' own rename into a tool run
// and set `variable` to n, keeping the sanitizers' own settings.
inline std::string preloadedRename(const char* variable, int n) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    // Under an emulator only the emulated tool takes the preload: the
    // machine's own programs on the way (env, sh) cannot load it.
    const std::string preload = std::string(TARNVALE_LAUNCHER).empty() ? "LD_PRELOAD=" : "QEMU_SET_ENV=LD_PRELOAD=";
    return preload + quote(FAIL_RENAME_PATH) + " " + variable + "=" + std::to_string(n) +
           " ASAN_OPTIONS=" + quote(std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0");
}
// The n-th rename fails, for commits that fail on purpose.
inline std::string failingRename(int n) { return preloadedRename("TARNVALE_FAIL_RENAME", n); }
// SIGINT arrives at the n-th rename, in the middle of a commit.
inline std::string interruptedRename(int n) { return preloadedRename("TARNVALE_INTERRUPT_RENAME", n); }
#endif

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnvale-cli-XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dir); }

    // env: assignments the tool runs with ("NAME=VALUE ...").
    Outcome run(const std::vector<std::string>& args, const std::string& env = "") {
        std::string command = (env.empty() ? "" : "env " + env + " ") + programCommand(TARNVALE_HOST_PATH);
        for (const auto& a : args) command += " " + quote(a);
        const std::string out = dir + "/.stdout", err = dir + "/.stderr";
        command += " >" + quote(out) + " 2>" + quote(err);
        const int status = std::system(command.c_str());
        Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    // A float WAV of a few deterministic samples.
    std::string writeInput(const std::string& name, int channels, int rate, int frames, float scale) {
        return writeFile(name, channels, rate, frames, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                         [&](size_t i, int c) { return scale * static_cast<float>(std::sin(0.01 * (i * channels + c + 1) * (channels + 1))); });
    }
    // Any signal, a frame at a time, into a file of the format given.
    template <typename Signal>
    std::string writeFile(const std::string& name, int channels, int rate, int64_t frames, int format, Signal signal) {
        const std::string path = dir + "/" + name;
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
        std::vector<float> block;
        for (int64_t at = 0; at < frames; at += 65536) {
            const int64_t n = std::min<int64_t>(65536, frames - at);
            block.resize(static_cast<size_t>(n * channels));
            for (int64_t i = 0; i < n; ++i)
                for (int c = 0; c < channels; ++c)
                    block[static_cast<size_t>(i * channels + c)] = signal(static_cast<size_t>(at + i), c);
            sf_writef_float(sf, block.data(), n);
        }
        sf_close(sf);
        return path;
    }
    std::string writeBytes(const std::string& name, const miditest::Bytes& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::vector<std::string> filesIn(const std::string& folder) {
        std::vector<std::string> names;
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir;
};

inline int lineCount(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

}  // namespace clitest
