// tarnvale-host never loses a file: every write planned before the first
// sample, a commit that fails or is interrupted leaves the folder as it
// was, and what it reports is never mistaken for silence. End to end,
// through the command line.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "audio_io.h"
#include "cli_fixture.h"

namespace {

using namespace clitest;

// What a folder holds, file by file: kind and bytes (a link's target).
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const std::string& folder) {
    Snapshot s;
    if (!fs::exists(folder)) return s;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name == ".stdout" || name == ".stderr") continue;
        const auto status = fs::symlink_status(e.path());
        if (fs::is_symlink(status)) s[name] = "link:" + fs::read_symlink(e.path()).string();
        else if (fs::is_regular_file(status)) s[name] = "file:" + slurp(e.path().string());
        else if (fs::is_directory(status)) s[name] = "folder";
        else s[name] = "other";
    }
    return s;
}

// The names whose kind or bytes differ between two snapshots ("" if none).
std::string differences(const Snapshot& a, const Snapshot& b) {
    std::string names;
    for (const auto& [name, what] : a)
        if (b.count(name) == 0 || b.at(name) != what) names += " " + name;
    for (const auto& [name, what] : b)
        if (a.count(name) == 0) names += " +" + name;
    return names;
}

bool hasTemporaries(const std::string& folder) {
    for (const auto& [name, what] : snapshot(folder))
        if (name.rfind(".tarnvale-host-", 0) == 0) return true;
    return false;
}

// The preload that makes the Nth rename fail, keeping the sanitizers'
// own settings.
class FileSafety : public Cli {
protected:
    std::vector<std::string> render(const std::string& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"render", "--in", "1=" + stem, "--in", "3=" + stem, "--out", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    void SetUp() override {
        Cli::SetUp();
        stem = writeInput("stem.wav", 2, 8000, 800, 0.5f);
    }

    // Starts a render that runs for a long time (an hour of tail, small
    // blocks) and returns once its temporary files exist.
    // Its standard error goes to `errors` when given.
    pid_t startLongRender(const std::string& out, const std::string& errors = "") {
        const pid_t child = fork();
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(errors.empty() ? null : open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            auto args = render(out, {"--tail", "3600", "--block", "16"});
            std::string launcher = TARNVALE_LAUNCHER;  // the emulator, in a build for another processor
            std::vector<char*> argv;
            if (!launcher.empty()) argv.push_back(launcher.data());
            argv.push_back(const_cast<char*>(TARNVALE_HOST_PATH));
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int k = 0; k < 2000 && !hasTemporaries(out); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return child;
    }
    static int waitFor(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    std::string stem;
};

// Refused with one line and exit 2, nothing written: a file to be written
// that is one the render reads, or another file to be written.
TEST_F(FileSafety, WritesOverWhatTheRenderReadsAreRefused) {
    const std::string d = dir + "/d";
    fs::create_directories(d);
    const std::string main = writeInput("d/main.wav", 2, 8000, 400, 0.3f);
    const std::string send1 = writeInput("d/send1.wav", 2, 8000, 400, 0.2f);
    miditest::Track track;
    track.event(0, {0xB0, 118, 64}).end();
    const std::string midi = writeBytes("d/moves.mid", miditest::file(0, 96, {track}));
    fs::copy_file(TARNVALE_PLUGIN_PATH, d + "/tarnvale.so");
    fs::create_hard_link(stem, d + "/ch01.wav");
    fs::create_directory_symlink(d, dir + "/alias");
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"outputs over the inputs", {"render", "--in", "1=" + main, "--in", "2=" + send1, "--out", d}, "the input of channel 1"},
        {"the same through a linked folder", {"render", "--in", "1=" + main, "--out", dir + "/alias"}, "the input of channel 1"},
        {"an output hard-linked to an input", {"render", "--in", "1=" + stem, "--out", d}, "the input of channel 1"},
        {"--report over an input", {"render", "--in", "1=" + stem, "--out", dir + "/o", "--report", stem}, "the input of channel 1"},
        {"--report over the MIDI file", {"render", "--in", "1=" + stem, "--out", dir + "/o", "--midi", midi, "--report", midi}, "the MIDI file"},
        {"--plot over the module", {"render", d + "/tarnvale.so", "--in", "1=" + stem, "--out", dir + "/o", "--plot", d + "/tarnvale.so"}, "the module"},
        {"--plot over an output", {"render", "--in", "1=" + stem, "--out", dir + "/o", "--plot", dir + "/o/main.wav"}, "the output main"},
        {"--plot and --report the same", {"render", "--in", "1=" + stem, "--out", dir + "/o", "--plot", dir + "/x", "--report", dir + "/x"}, "--plot and as --report"},
        {"the same file by two spellings", {"render", "--in", "1=" + stem, "--out", dir + "/o", "--plot", dir + "/x", "--report", dir + "/o/../x"}, "--plot and as --report"},
    };
    const Snapshot before = snapshot(d), top = snapshot(dir);
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, 2) << c.what << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(differences(snapshot(d), before), "") << c.what;
        EXPECT_EQ(differences(snapshot(dir), top), "") << c.what << ": the output folder is not left behind either";
    }
}

// Refused with exit 4: a final name that exists and is not a regular file.
TEST_F(FileSafety, FinalNamesThatAreNotRegularFilesAreRefused) {
    const std::string d = dir + "/d", elsewhere = writeInput("elsewhere.wav", 2, 8000, 100, 0.1f);
    fs::create_directories(d);
    const struct {
        const char* what;
        std::function<void()> make;
        std::vector<std::string> extra;
        const char* message;
    } cases[] = {
        {"a symbolic link", [&] { fs::create_symlink(elsewhere, d + "/main.wav"); }, {}, "a symbolic link"},
        {"a named pipe", [&] { mkfifo((d + "/send1.wav").c_str(), 0644); }, {}, "a named pipe"},
        {"a folder", [&] { fs::create_directory(d + "/ch03.wav"); }, {}, "a folder"},
        {"a link as the report", [&] { fs::create_symlink(elsewhere, d + "/r.json"); }, {"--report", d + "/r.json"}, "a symbolic link"},
        {"a pipe as the plot", [&] { mkfifo((d + "/p.svg").c_str(), 0644); }, {"--plot", d + "/p.svg"}, "a named pipe"},
    };
    const std::string original = slurp(elsewhere);
    for (const auto& c : cases) {
        fs::remove_all(d);
        fs::create_directories(d);
        c.make();
        const Snapshot before = snapshot(d);
        const Outcome r = run(render(d, c.extra));
        EXPECT_EQ(r.code, 4) << c.what << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_EQ(differences(snapshot(d), before), "") << c.what;
        EXPECT_EQ(slurp(elsewhere), original) << c.what;
    }
}

// The plot's and the report's folders are checked before the render, and
// '-' puts the report on standard output.
TEST_F(FileSafety, PlotAndReportPathsAreCheckedFirst) {
    const std::string blocker = dir + "/blocker";
    std::ofstream(blocker) << "a file";
    for (const auto& extra : std::vector<std::vector<std::string>>{{"--plot", dir + "/missing/levels.svg"},
                                                                    {"--report", blocker + "/report.json"}}) {
        const Outcome r = run(render(dir + "/o", extra));
        EXPECT_EQ(r.code, 4) << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(extra[1]), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir + "/o")) << "refused before anything was made";
    }
    const Outcome r = run(render(dir + "/o", {"--report", "-"}));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["outputs"][0]["name"], "main");
    EXPECT_NE(r.err.find("peak dBFS"), std::string::npos) << "the table goes to standard error";
    EXPECT_FALSE(fs::exists(dir + "/o/-"));
}

// A commit that fails midway into a folder holding an earlier render
// leaves it byte for byte as it was: each rename of the second render's
// commit fails in turn (the files set aside, then moved into place).
TEST_F(FileSafety, AFailedCommitLeavesTheEarlierRenderAsItWas) {
    const std::string d = dir + "/d";
    const auto extra = std::vector<std::string>{"--plot", d + "/levels.svg", "--report", d + "/report.json"};
    ASSERT_EQ(run(render(d, extra)).code, 0);
    const Snapshot before = snapshot(d);
    ASSERT_EQ(before.size(), 7u);  // main, send1, send2, ch01, ch03, plot, report
    auto second = render(d, extra);
    second.insert(second.end(), {"--set", "Ch.01 Volume=50%"});
    const int renames = 14;  // seven set aside, seven moved into place
    for (int n = 1; n <= renames; ++n) {
        const Outcome r = run(second, failingRename(n));
        EXPECT_EQ(r.code, 4) << "rename " << n << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("cannot write " + d + "/"), std::string::npos) << r.err;
        EXPECT_EQ(differences(snapshot(d), before), "") << "rename " << n << " failed";
    }
    const Outcome r = run(second, failingRename(renames + 1));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(differences(snapshot(d), before), "") << "the second render does change the files";
    EXPECT_EQ(snapshot(d).size(), 7u) << "and leaves nothing set aside";
}

// Property: whatever a folder held (nothing, or any of the final names as
// files of any bytes), under hostile folder names, a render either
// completes or leaves the folder exactly as it was.
TEST_F(FileSafety, CommitsAreAllOrNothingWhateverTheFolderHeld) {
    const std::vector<std::string> hostile = {"plain", "with space", "-dash", "new\nline", "per%cent",
                                              "bytes\xff\xfe", "quote'\"", std::string(200, 'n')};
    const std::vector<std::string> names = {"main.wav", "send1.wav", "send2.wav", "ch01.wav", "ch03.wav", "r.json"};
    std::mt19937 random(1865);
    for (int trial = 0; trial < 24; ++trial) {
        const std::string d = dir + "/" + hostile[static_cast<size_t>(trial) % hostile.size()];
        fs::remove_all(d);
        fs::create_directories(d);
        int existing = 0;
        for (const auto& name : names)
            if (random() % 2 == 0) {
                std::ofstream(d + "/" + name) << "earlier " << name << " " << random();
                ++existing;
            }
        const Snapshot before = snapshot(d);
        const int renames = existing + static_cast<int>(names.size());
        const int failAt = 1 + static_cast<int>(random() % static_cast<unsigned>(renames + 1));
        const Outcome r = run(render(d, {"--report", d + "/r.json"}), failingRename(failAt));
        if (failAt > renames) {
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(snapshot(d).size(), names.size()) << "trial " << trial;
            for (const auto& name : names) EXPECT_TRUE(fs::is_regular_file(d + "/" + name)) << name;
        } else {
            EXPECT_EQ(r.code, 4) << "trial " << trial << ": " << r.err;
            EXPECT_EQ(differences(snapshot(d), before), "") << "trial " << trial << ", rename " << failAt << " of " << renames;
        }
    }
}

// Outputs an earlier render left (files named as one of the effect's
// outputs, in the render's format, that this render does not write) are
// named in the summary and the report, or removed under --clean. Nothing
// else in the folder is touched: a user's files, outputs in another
// format, names that differ in case, symbolic links, and files the render
// reads under an output's name (a copy, a hard link).
TEST_F(FileSafety, EarlierOutputsAreNamedOrRemovedUnderClean) {
    const std::string d = dir + "/d";
    ASSERT_EQ(run(render(d)).code, 0);  // main, send1, send2, ch01, ch03
    std::ofstream(d + "/drums.wav") << "the user's own";
    std::ofstream(d + "/ch03.flac") << "another format";
    std::ofstream(d + "/Ch03.wav") << "another name";
    std::ofstream(d + "/ch03.wav.bak") << "another name";
    fs::create_symlink("drums.wav", d + "/ch05.wav");
    fs::copy_file(stem, d + "/ch07.wav");
    fs::create_hard_link(stem, d + "/ch09.wav");
    // Two of the inputs lie in the folder under outputs' names.
    std::vector<std::string> args{"render",  "--in", "1=" + stem, "--in", "2=" + d + "/ch07.wav", "--in",
                                  "4=" + d + "/ch09.wav", "--out", d, "--report", dir + "/r.json"};
    auto untouched = [&](const Snapshot& before, const Snapshot& after) {
        for (const char* name : {"drums.wav", "ch03.flac", "Ch03.wav", "ch03.wav.bak", "ch05.wav", "ch07.wav", "ch09.wav"})
            EXPECT_EQ(after.count(name) ? after.at(name) : "gone", before.at(name)) << name;
    };
    const Snapshot before = snapshot(d);
    const Outcome kept = run(args);
    ASSERT_EQ(kept.code, 0) << kept.err;
    EXPECT_NE(kept.out.find("left from an earlier render, not written by this one: ch03.wav (--clean removes it)\n"),
              std::string::npos) << kept.out;
    const Snapshot afterKept = snapshot(d);
    EXPECT_EQ(afterKept.at("ch03.wav"), before.at("ch03.wav")) << "named, not removed";
    untouched(before, afterKept);
    std::ifstream report(dir + "/r.json");
    const nlohmann::json j = nlohmann::json::parse(report);
    EXPECT_EQ(j["stale"], nlohmann::json::array({d + "/ch03.wav"}));
    EXPECT_EQ(j["removed"], nlohmann::json::array());

    args.push_back("--clean");
    const Outcome cleaned = run(args);
    ASSERT_EQ(cleaned.code, 0) << cleaned.err;
    EXPECT_NE(cleaned.out.find("removed 1 output of an earlier render: ch03.wav\n"), std::string::npos) << cleaned.out;
    const Snapshot afterClean = snapshot(d);
    EXPECT_EQ(afterClean.count("ch03.wav"), 0u);
    untouched(before, afterClean);
    std::ifstream report2(dir + "/r.json");
    const nlohmann::json j2 = nlohmann::json::parse(report2);
    EXPECT_EQ(j2["stale"], nlohmann::json::array());
    EXPECT_EQ(j2["removed"], nlohmann::json::array({d + "/ch03.wav"}));

    // Nothing left: nothing said.
    const Outcome again = run(args);
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out.find("earlier render"), std::string::npos) << again.out;
}

// A render under --clean that fails at any step of its commit leaves the
// folder byte for byte as it was, the earlier outputs it would remove
// included; the one that succeeds removes them.
TEST_F(FileSafety, AFailedCleanRenderLeavesTheFolderAsItWas) {
    const std::string d = dir + "/d";
    const auto extra = std::vector<std::string>{"--plot", d + "/levels.svg", "--report", d + "/report.json"};
    ASSERT_EQ(run(render(d, extra)).code, 0);
    std::ofstream(d + "/notes.txt") << "the user's own";
    const Snapshot before = snapshot(d);
    ASSERT_EQ(before.size(), 8u);  // main, send1, send2, ch01, ch03, plot, report, notes
    std::vector<std::string> second{"render", "--in", "1=" + stem, "--out", d, "--clean", "--set", "Ch.01 Volume=50%"};
    second.insert(second.end(), extra.begin(), extra.end());
    const int renames = 13;  // six replaced set aside, ch03 set aside, six moved into place
    for (int n = 1; n <= renames; ++n) {
        const Outcome r = run(second, failingRename(n));
        EXPECT_EQ(r.code, 4) << "rename " << n << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
        EXPECT_EQ(differences(snapshot(d), before), "") << "rename " << n << " failed";
    }
    const Outcome r = run(second, failingRename(renames + 1));
    ASSERT_EQ(r.code, 0) << r.err;
    const Snapshot after = snapshot(d);
    EXPECT_EQ(after.size(), 7u) << "ch03.wav removed, nothing left set aside";
    EXPECT_EQ(after.count("ch03.wav"), 0u);
    EXPECT_EQ(after.at("notes.txt"), before.at("notes.txt"));
}

// SIGINT, SIGTERM and SIGHUP: the temporary files go, the exit code is
// 128 + the signal, an earlier render stays as it was, and the render says
// that nothing was written (after ending its progress line).
TEST_F(FileSafety, SignalsLeaveTheFolderAsItWas) {
    const std::string d = dir + "/d";
    ASSERT_EQ(run(render(d)).code, 0);
    const Snapshot before = snapshot(d);
    const std::string errors = dir + "/errors.txt";
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = startLongRender(d, errors);
        ASSERT_TRUE(hasTemporaries(d)) << "the render did not start";
        kill(child, signal);
        EXPECT_EQ(waitFor(child), 128 + signal) << strsignal(signal);
        EXPECT_EQ(differences(snapshot(d), before), "") << strsignal(signal);
        const std::string text = slurp(errors);
        const std::string note = "tarnvale-host: interrupted; nothing was written\n";
        EXPECT_TRUE(text.size() >= note.size() && text.compare(text.size() - note.size(), note.size(), note) == 0)
            << strsignal(signal) << ": " << text;
    }
    // A new folder interrupted is taken away again.
    const pid_t child = startLongRender(dir + "/new/deeper");
    kill(child, SIGINT);
    EXPECT_EQ(waitFor(child), 128 + SIGINT);
    EXPECT_FALSE(fs::exists(dir + "/new"));
}

// Ctrl-C in the middle of the commit (at its first, a middle and its last
// rename) is taken once the commit is done: every file is in place, as an
// uninterrupted render writes it, and the render says so.
TEST_F(FileSafety, ASignalDuringTheCommitIsTakenAfterIt) {
    const std::string whole = dir + "/whole";
    ASSERT_EQ(run(render(whole)).code, 0);
    const Snapshot expected = snapshot(whole);
    ASSERT_EQ(expected.size(), 5u);  // main, send1, send2, ch01, ch03
    for (int at : {1, 3, 5}) {
        const std::string d = dir + "/d" + std::to_string(at);
        const Outcome r = run(render(d), interruptedRename(at));
        EXPECT_EQ(r.code, 128 + SIGINT) << "rename " << at << ": " << r.err;
        EXPECT_EQ(r.err, "tarnvale-host: interrupted after the files were written\n") << "rename " << at;
        EXPECT_EQ(differences(snapshot(d), expected), "") << "rename " << at;
    }
}

// A second render into a folder being rendered into refuses at once.
TEST_F(FileSafety, ASecondRenderIntoTheSameFolderRefuses) {
    const std::string d = dir + "/d";
    const pid_t first = startLongRender(d);
    const auto started = std::chrono::steady_clock::now();
    const Outcome r = run(render(d));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    kill(first, SIGTERM);
    EXPECT_EQ(waitFor(first), 128 + SIGTERM);
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("another tarnvale-host is rendering into " + d), std::string::npos) << r.err;
    EXPECT_LT(seconds, 30.0) << "it did not wait for the first";
    EXPECT_TRUE(snapshot(d).empty());
}

// File names are bytes: the report holds them escaped, and parses.
TEST_F(FileSafety, PathsThatAreNotUtf8GoIntoTheReportEscaped) {
    const std::string odd = "in\xff\\x.wav";
    fs::copy_file(stem, dir + "/" + odd);
    const std::string d = dir + "/out\xfe";
    const Outcome r = run({"render", "--in", "1=" + dir + "/" + odd, "--out", d, "--report", d + "/r.json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto report = nlohmann::json::parse(slurp(d + "/r.json"));
    EXPECT_EQ(report["inputs"][0]["file"], dir + "/in\\xFF\\\\x.wav");
    EXPECT_EQ(report["outputs"][0]["file"], dir + "/out\\xFE/main.wav");
}

// A WAV header claiming a rate outside 1,000 to 768,000 Hz.
TEST_F(FileSafety, InputRatesOutsideTheRangeAreRefused) {
    auto wavAt = [&](uint32_t rate) {
        const std::string path = dir + "/rate" + std::to_string(rate) + ".wav";
        auto le = [](std::string& s, uint32_t v, int bytes) {
            for (int k = 0; k < bytes; ++k) s += static_cast<char>((v >> (8 * k)) & 0xFF);
        };
        std::string h = "RIFF";
        le(h, 36 + 400, 4);
        h += "WAVEfmt ";
        le(h, 16, 4);
        le(h, 1, 2);  // PCM
        le(h, 1, 2);  // mono
        le(h, rate, 4);
        le(h, rate * 2, 4);
        le(h, 2, 2);
        le(h, 16, 2);
        h += "data";
        le(h, 400, 4);
        h += std::string(400, '\x01');
        std::ofstream(path, std::ios::binary) << h;
        return path;
    };
    for (uint32_t rate : {1u, 999u, 768001u, 2000000000u}) {
        const Outcome r = run({"render", "--in", "1=" + wavAt(rate), "--out", dir + "/o"});
        EXPECT_EQ(r.code, 2) << rate << ": " << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("1000 to 768000 Hz"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir + "/o"));
    }
    for (uint32_t rate : {1000u, 768000u}) EXPECT_EQ(run({"render", "--in", "1=" + wavAt(rate), "--out", dir + "/o"}).code, 0) << rate;
}

// More events in a block than the effect's queue holds: every one applies,
// and the files are the same at every block size.
TEST_F(FileSafety, EveryMidiEventAppliesWhateverTheBlock) {
    const std::string input = writeInput("long.wav", 2, 48000, 4800, 0.5f);
    struct Load {
        const char* what;
        int spacing;  // frames between events; 0: all on one frame
    };
    for (const Load load : {Load{"300 events on consecutive frames", 1}, Load{"300 events on one frame", 0}}) {
        miditest::Track track;
        track.tempo(0, 2000);  // a tick is a frame at 48 kHz (96 ticks a quarter)
        for (int k = 0; k < 300; ++k)  // Ch.01 Volume, ending at 100 %
            track.event(k == 0 ? 10 : static_cast<uint32_t>(load.spacing), {0xB0, 114, static_cast<uint8_t>(k < 299 ? k % 100 : 100)});
        track.end();
        const std::string midi = writeBytes("many.mid", miditest::file(0, 96, {track}));
        std::string first;
        for (const char* block : {"1", "64", "512", "4096"}) {
            const std::string out = dir + "/b" + block;
            const Outcome r = run({"render", "--in", "1=" + input, "--out", out, "--midi", midi, "--block", block});
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_NE(r.out.find("300 MIDI events played; the effect reported 300 automation changes"), std::string::npos)
                << load.what << ", block " << block << "\n" << r.out;
            EXPECT_NE(r.out.find("Ch.01 Volume: 300 changes, ending at 100.0 %"), std::string::npos)
                << load.what << ", block " << block << "\n" << r.out;
            const std::string main = slurp(out + "/main.wav");
            if (first.empty()) first = main;
            EXPECT_TRUE(main == first) << load.what << ": block " << block << " renders other samples than block 1";
            fs::remove_all(out);
        }
    }
}

// NaN and infinities are counted per input and output, never called
// silence; true silence still is null.
TEST_F(FileSafety, NonFiniteSamplesAreCountedNotCalledSilence) {
    const std::string broken = writeFile("nan.wav", 2, 8000, 800, SF_FORMAT_WAV | SF_FORMAT_FLOAT, [](size_t i, int c) {
        return i < 100 && c == 0 ? NAN : i == 500 ? INFINITY : 0.0f;
    });
    const std::string silent = writeFile("silent.wav", 2, 8000, 800, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                         [](size_t, int) { return 0.0f; });
    const Outcome r = run({"render", "--in", "1=" + broken, "--in", "2=" + silent, "--out", dir + "/o",
                           "--sample-format", "float", "--report", dir + "/r.json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("warning: channel 1 (" + broken + ") has 102 samples that are not a finite number"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("warning: output main has"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("non-finite"), std::string::npos) << r.out;
    const auto report = nlohmann::json::parse(slurp(dir + "/r.json"));
    EXPECT_EQ(report["inputs"][0]["non_finite"], 102);
    EXPECT_EQ(report["inputs"][1]["non_finite"], 0);
    for (const auto& o : report["outputs"]) {
        if (o["name"] == "ch01" || o["name"] == "main") {
            EXPECT_GT(o["non_finite"].get<int>(), 100) << o["name"];
            EXPECT_FALSE(o["peak_dbfs"].is_null()) << o["name"] << " is not silent";
            EXPECT_FALSE(o["true_peak_dbtp"].is_null()) << o["name"];
        }
        if (o["name"] == "ch02") {
            EXPECT_EQ(o["non_finite"], 0);
            EXPECT_TRUE(o["peak_dbfs"].is_null()) << "silence";
        }
    }
}

// --outputs writes exactly the outputs named.
TEST_F(FileSafety, OutputsWritesExactlyWhatItNames) {
    const struct {
        std::vector<std::string> extra;
        std::vector<std::string> files;
    } cases[] = {
        {{}, {"ch01.wav", "ch03.wav", "main.wav", "send1.wav", "send2.wav"}},
        {{"--outputs", "main"}, {"main.wav"}},
        {{"--outputs", "sends"}, {"send1.wav", "send2.wav"}},
        {{"--outputs", "channels"}, {"ch01.wav", "ch03.wav"}},
        {{"--outputs", "main,ch16"}, {"ch16.wav", "main.wav"}},
        {{"--outputs", "send2,channels", "--all"}, {"ch01.wav", "ch02.wav", "ch03.wav", "ch04.wav", "ch05.wav", "ch06.wav",
                                                    "ch07.wav", "ch08.wav", "ch09.wav", "ch10.wav", "ch11.wav", "ch12.wav",
                                                    "ch13.wav", "ch14.wav", "ch15.wav", "ch16.wav", "send2.wav"}},
    };
    int k = 0;
    for (const auto& c : cases) {
        const std::string out = dir + "/o" + std::to_string(k++);
        const Outcome r = run(render(out, c.extra));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(filesIn(out), c.files);
    }
    const Outcome bad = run(render(dir + "/bad", {"--outputs", "main,bogus"}));
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("\"bogus\""), std::string::npos) << bad.err;
}

// Any number of workers: the same files, bit for bit, and the same figures.
TEST_F(FileSafety, EveryJobCountGivesTheSameFilesAndFigures) {
    const std::string music = writeFile("music.wav", 2, 44100, 3 * 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_24, [](size_t i, int c) {
        const double t = static_cast<double>(i) / 44100.0;
        return static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t + c) * (0.5 + 0.5 * std::sin(2 * M_PI * 0.7 * t)) +
                                  0.1 * std::sin(2 * M_PI * 3520 * t * (1 + 0.01 * c)));
    });
    std::string firstReport;
    Snapshot firstFiles;
    for (const char* jobs : {"1", "2", "5"}) {
        const std::string out = dir + "/jobs";
        // 24-bit files, and a main that clips (its count, its plot marks).
        const Outcome r = run({"render", "--in", "1=" + music, "--in", "7=" + music, "--out", out, "--jobs", jobs,
                               "--all", "--report", dir + "/r.json", "--plot", out + "/p.svg", "--set",
                               "Master Volume=12dB"});
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_NE(r.err.find("main.wav clipped"), std::string::npos) << r.err;
        const Snapshot files = snapshot(out);
        const std::string report = slurp(dir + "/r.json");
        if (firstReport.empty()) {
            firstReport = report;
            firstFiles = files;
        }
        EXPECT_EQ(differences(files, firstFiles), "") << "--jobs " << jobs;
        EXPECT_EQ(report, firstReport) << "--jobs " << jobs;
        fs::remove_all(out);
    }
}

}  // namespace
