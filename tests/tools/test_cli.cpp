// tarnvale-host through its command line, on small generated files.
#include <ebur128.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "audio_io.h"
#include "cli_fixture.h"
#include "file_samples.h"
#include "measure.h"
#include "midi_bytes.h"
#include "progress.h"
#include "render.h"
#include "report.h"
#include "support/reference_mixer.h"

namespace fs = std::filesystem;

namespace {

using namespace clitest;

TEST_F(Cli, RenderEqualsThePerFrameModel) {
    const std::string stereo = writeInput("a.wav", 2, 48000, 1000, 0.5f);
    const std::string mono = writeInput("b.wav", 1, 48000, 700, 0.8f);
    const Outcome r = run({"render", "--in", "1=" + stereo, "--in", "3=" + mono, "--out", dir + "/out", "--block", "100",
                       "--set", "Ch.03 Panpot=0.6", "--set", "13=64%", "--set", "Master Send 1=200%", "--set",
                       "Ch.03 Send 1=0.3 raw", "--tail", "0.001"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("set Ch.03 Panpot = 0.600"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("set Ch.03 Volume = 64.00 %"), std::string::npos) << r.out;
    EXPECT_EQ(filesIn(dir + "/out"), (std::vector<std::string>{"ch01.wav", "ch03.wav", "main.wav", "send1.wav", "send2.wav"}));

    tools::AudioFile a, b;
    std::string error;
    ASSERT_TRUE(tools::readAudio(stereo, a, error));
    ASSERT_TRUE(tools::readAudio(mono, b, error));
    const int frames = 1000 + 48;  // longest input plus 1 ms of tail
    std::vector<std::vector<float>> in(32, std::vector<float>(frames)), expected(38, std::vector<float>(frames));
    for (size_t i = 0; i < 1000; ++i) {
        in[0][i] = a.left[i];
        in[1][i] = a.right[i];
    }
    for (size_t i = 0; i < 700; ++i) in[4][i] = in[5][i] = b.left[i];
    std::vector<const float*> ip;
    std::vector<float*> op;
    for (auto& v : in) ip.push_back(v.data());
    for (auto& v : expected) op.push_back(v.data());
    reference::Mixer model;
    model.params[12] = 0.8f;
    model.params[13] = 0.5f;
    model.params[2] = 0.5f;
    model.params[14] = 0.3f;
    model.process(ip.data(), op.data(), frames);

    const struct {
        const char* file;
        int left;
    } files[] = {{"main.wav", 0}, {"send1.wav", 2}, {"send2.wav", 4}, {"ch01.wav", 6}, {"ch03.wav", 10}};
    for (const auto& f : files) {
        tools::AudioFile rendered;
        ASSERT_TRUE(tools::readAudio(dir + "/out/" + f.file, rendered, error)) << error;
        ASSERT_EQ(rendered.left.size(), static_cast<size_t>(frames)) << f.file;
        EXPECT_EQ(rendered.sampleRate, 48000);
        for (int i = 0; i < frames; ++i) {
            ASSERT_NEAR(rendered.left[i], expected[f.left][i], 1e-5f) << f.file << " frame " << i;
            ASSERT_NEAR(rendered.right[i], expected[f.left + 1][i], 1e-5f) << f.file << " frame " << i;
        }
    }
}

TEST_F(Cli, SetAcceptsNamesIndicesAndPanelUnits) {
    const std::string input = writeInput("a.wav", 2, 44100, 64, 0.5f);
    const Outcome r = run({"render", "--in", "2=" + input, "--out", dir + "/out", "--set", "Ch.02 Volume=50%", "--set",
                       "1=200%", "--set", "Master Panpot=0.75 raw", "--set", "Ch.02 Send 2=128 %", "--set",
                       "Ch.02 Panpot=-0.4", "--set", "Ch.01 Panpot=0", "--set", "Ch.01 Send 1=0.5 raw", "--all"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* echo : {"set Ch.02 Volume = 50.00 %", "set Master Volume = 200.0 %", "set Master Panpot = 0.500",
                             "set Ch.02 Send 2 = 128.0 %", "set Ch.02 Panpot = -0.399 (given as -0.4)",
                             "set Ch.01 Panpot = 0.000\n", "set Ch.01 Send 1 = 64.00 % (given as 0.5 raw)"})
        EXPECT_NE(r.out.find(echo), std::string::npos) << echo << "\n" << r.out;
    EXPECT_EQ(filesIn(dir + "/out").size(), 19u) << "--all writes every channel";
}

// A MIDI file with a tempo change: controller moves land on their frames.
TEST_F(Cli, MidiFileControllerMovesLandOnTheirFrames) {
    const std::string input = writeInput("a.wav", 2, 48000, 96000, 0.25f);
    // 960 ticks a quarter at 120 bpm: tick 960 is 0.5 s, frame 24000. From
    // tick 1920 (1.0 s) on, 60 bpm: tick 2400 is 1.5 s, frame 72000 (at
    // 120 bpm throughout it would be 60000).
    miditest::Track track;
    track.event(960, {0xB4, 118, 0}).tempo(960, 1000000).event(480, {0xBF, 118, 127}).end();
    const std::string midi = writeBytes("moves.mid", miditest::file(0, 960, {track}));
    const Outcome r = run({"render", "--in", "1=" + input, "--out", dir + "/out", "--midi", midi, "--block", "333"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("2 MIDI events played; the effect reported 2 automation changes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Master Volume: 2 changes, ending at 400.0 %"), std::string::npos) << r.out;
    tools::AudioFile in, main, ch01;
    std::string error;
    ASSERT_TRUE(tools::readAudio(input, in, error));
    ASSERT_TRUE(tools::readAudio(dir + "/out/main.wav", main, error)) << error;
    ASSERT_TRUE(tools::readAudio(dir + "/out/ch01.wav", ch01, error)) << error;
    ASSERT_EQ(main.left.size(), 96000u);
    for (size_t i = 0; i < 96000; ++i) {
        const float gain = i < 24000 ? 1.0f : i < 72000 ? 0.0f : 4.0f;
        ASSERT_EQ(main.left[i], in.left[i] * gain) << "frame " << i;
        ASSERT_EQ(ch01.right[i], in.right[i] * gain) << "frame " << i;
    }
}

TEST_F(Cli, BadInputGivesOneLineAndLeavesNoOutput) {
    const std::string good = writeInput("good.wav", 2, 44100, 32, 0.5f);
    const std::string text = dir + "/text.wav";
    std::ofstream(text) << "not audio at all";
    const std::string blocker = dir + "/blocker";
    std::ofstream(blocker) << "a file where a folder should be";
    const std::string out = dir + "/out";
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"missing file", {"render", "--in", "1=" + dir + "/missing.wav", "--out", out}, "does not exist"},
        {"unreadable file", {"render", "--in", "1=" + text, "--out", out}, "cannot read"},
        {"channel 0", {"render", "--in", "0=" + good, "--out", out}, "outside 1..16"},
        {"channel 17", {"render", "--in", "17=" + good, "--out", out}, "outside 1..16"},
        {"no channel", {"render", "--in", good, "--out", out}, "N=FILE"},
        {"unknown name", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.3 Panpot=0.5"}, "\"Ch.03 Panpot\""},
        {"value beyond the panel", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Volume=129%"}, "outside"},
        {"plain number for a level", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Volume=1.5"}, "unit"},
        {"wrong unit", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Volume=3 parsecs"}, "not in"},
        {"index past the end", {"render", "--in", "1=" + good, "--out", out, "--set", "68=0.5"}, "out of range"},
        {"not a plug-in", {"render", NOT_A_PLUGIN_PATH, "--in", "1=" + good, "--out", out}, "not a VST 2.4 plug-in"},
        {"refusing plug-in", {"render", REFUSING_PATH, "--in", "1=" + good, "--out", out}, "refused"},
        {"not a library", {"render", text, "--in", "1=" + good, "--out", out}, "tarnvale-host:"},
        {"info of a non-plug-in", {"info", NOT_A_PLUGIN_PATH}, "not a VST 2.4 plug-in"},
        {"unwritable folder", {"render", "--in", "1=" + good, "--out", blocker + "/sub"}, "cannot create output folder"},
        {"channel past 32 bits", {"render", "--in", "4294967297=" + good, "--out", out}, "too large"},
        {"block of 0", {"render", "--in", "1=" + good, "--out", out, "--block", "0"}, "--block must be"},
        {"block too large", {"render", "--in", "1=" + good, "--out", out, "--block", "2000000000"}, "--block must be"},
        {"block past int", {"render", "--in", "1=" + good, "--out", out, "--block", "99999999999"}, "tarnvale-host:"},
        {"infinite tail", {"render", "--in", "1=" + good, "--out", out, "--tail", "inf"}, "--tail must be"},
        {"tail of 1e12 s", {"render", "--in", "1=" + good, "--out", out, "--tail", "1e12"}, "--tail must be"},
        {"negative tail", {"render", "--in", "1=" + good, "--out", out, "--tail", "-1"}, "--tail must be"},
        {"NaN tail", {"render", "--in", "1=" + good, "--out", out, "--tail", "nan"}, "--tail must be"},
        {"rate too low", {"render", "--in", "1=" + good, "--out", out, "--rate", "10"}, "--rate must be"},
        {"unknown sample format", {"render", "--in", "1=" + good, "--out", out, "--sample-format", "pcm12"}, "pcm16, pcm24"},
        {"float FLAC", {"render", "--in", "1=" + good, "--out", out, "--format", "flac", "--sample-format", "float"},
         "cannot hold float"},
        {"pan beyond the panel", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Panpot=-1.5"}, "outside"},
        {"bad MIDI file", {"render", "--in", "1=" + good, "--out", out, "--midi", text}, "not a standard MIDI file"},
        {"unknown option", {"render", "--in", "1=" + good, "--out", out, "--bogus"}, "tarnvale-host:"},
        {"unknown format", {"render", "--in", "1=" + good, "--out", out, "--format", "mp9"}, "unknown --format"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_NE(r.code, 0) << c.what;
        EXPECT_EQ(lineCount(r.err), 1) << c.what << ": " << r.err;
        EXPECT_EQ(r.err.rfind("tarnvale-host: ", 0), 0u) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_TRUE(filesIn(out).empty()) << c.what << " left files behind";
    }
}

// The progress bar: on a terminal only, redrawn in place with the time
// taken and the time left, and its line ended however the render ends (it
// completes, fails, or is interrupted), so nothing is written onto it.
TEST_F(Cli, ProgressShowsOnATerminalOnly) {
    const std::string input = writeInput("long.wav", 2, 8000, 12000, 0.1f);  // 1.5 s
    const Outcome quiet = run({"render", "--in", "1=" + input, "--out", dir + "/quiet"});
    ASSERT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "") << "nothing on standard error when it is not a terminal";
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
    const std::string render = programCommand(TARNVALE_HOST_PATH) + " render --in 1=" + quote(input) + " --block 64 --out ";
    const struct {
        const char* what;
        std::string command;  // run by sh on a terminal
        const char* after;    // what follows the bar, on a line of its own
        bool completes;
    } cases[] = {
        {"a render", render + quote(dir + "/done"), "wrote 4 files", true},
        {"a failed commit", failingRename(1) + " " + render + quote(dir + "/failed"), "tarnvale-host: cannot write", true},
        {"a write that fails midway", "trap '' XFSZ; ulimit -f 200; " + render + quote(dir + "/full") + " --tail 60",
         "tarnvale-host: cannot write", false},
        {"an interrupted render", render + quote(dir + "/stopped") + " --tail 3600 & sleep 1; kill -INT $!; wait $!; echo after",
         "tarnvale-host: interrupted; nothing was written\r\nafter", false},
    };
    for (const auto& c : cases) {
        // script(1) gives the render a terminal; its log holds what appeared there.
        const std::string log = dir + "/terminal.log";
        const std::string command = "script -qec " + quote(c.command) + " " + quote(log) + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());  // the render's own: some of them fail
        static_cast<void>(status);
        const std::string seen = slurp(log);
        const size_t last = seen.rfind("\rrendering [");
        ASSERT_NE(last, std::string::npos) << c.what << ": " << seen;
        const size_t end = seen.find('\n', last);
        ASSERT_NE(end, std::string::npos) << c.what << ": the bar's line is never ended";
        const std::string bar = seen.substr(last + 1, end - last - 1);
        EXPECT_NE(bar.find(" elapsed"), std::string::npos) << c.what << ": " << bar;
        if (c.completes) {
            EXPECT_EQ(bar.rfind("rendering [##############################] 100%  0:0", 0), 0u) << c.what << ": " << bar;
            EXPECT_EQ(bar.find("left"), std::string::npos) << c.what << ": " << bar;
        } else {
            EXPECT_NE(bar.find(" left"), std::string::npos) << c.what << ": " << bar;
        }
        EXPECT_NE(seen.find(" left", seen.find("rendering [")), std::string::npos) << c.what << ": the time left is shown";
        const size_t next = seen.find(c.after, last);
        ASSERT_NE(next, std::string::npos) << c.what << ": " << seen;
        EXPECT_LT(end, next) << c.what << ": written onto the bar's line";
        EXPECT_EQ(seen.find_last_not_of("\r", next - 1), end) << c.what << ": not on a line of its own";
    }
}

// The bar's text and its clock.
TEST(Progress, TextAndClock) {
    const struct {
        double fraction, elapsed;
        const char* text;
    } cases[] = {
        {0.0, 0.0, "rendering [..............................]   0%  0:00 elapsed, --:-- left"},
        {0.25, 5.0, "rendering [#######.......................]  25%  0:05 elapsed, 0:15 left"},
        {0.5, 1801.0, "rendering [###############...............]  50%  30:01 elapsed, 30:01 left"},
        {0.5, 3600.0, "rendering [###############...............]  50%  1:00:00 elapsed, 1:00:00 left"},
        {1.0, 75.4, "rendering [##############################] 100%  1:15 elapsed"},
    };
    for (const auto& c : cases) EXPECT_EQ(tools::progressText(c.fraction, c.elapsed), c.text) << c.fraction;
}

TEST_F(Cli, InfoShowsThePanel) {
    const Outcome r = run({"info"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* line : {"Effect       Tarnvale", "Unique ID    '1865' (825767477)", "receiveVstMidiEvent   1",
                             "01-1 Ch.01 L", "Ch.16 R", "Master Volume", "67  Ch.16 Send 2"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

TEST_F(Cli, InfoAndRenderWorkOnAnotherEffect) {
    const Outcome info = run({"info", TINY_GAIN_PATH});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("Effect       Tiny Gain"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Gain"), std::string::npos);

    const std::string input = writeInput("a.wav", 2, 44100, 256, 0.25f);
    const Outcome r = run({"render", TINY_GAIN_PATH, "--in", "1=" + input, "--out", dir + "/out", "--set", "Gain=-6 dB",
                       "--plot", dir + "/out/levels.svg"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("set Gain = -6.00 dB"), std::string::npos) << r.out;
    EXPECT_EQ(filesIn(dir + "/out"), (std::vector<std::string>{"levels.svg", "main.wav"}));
    tools::AudioFile in, out;
    std::string error;
    ASSERT_TRUE(tools::readAudio(input, in, error));
    ASSERT_TRUE(tools::readAudio(dir + "/out/main.wav", out, error));
    const float gain = std::pow(10.0f, -6.0f / 20.0f);
    for (size_t i = 0; i < 256; ++i) ASSERT_NEAR(out.left[i], in.left[i] * gain, 1e-3f);
    EXPECT_NE(slurp(dir + "/out/levels.svg").find("<path class=\"left\""), std::string::npos);
}

TEST_F(Cli, DemoWritesFilesTableAndPlot) {
    const Outcome r = run({"demo", dir + "/demo"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto files = filesIn(dir + "/demo");
    EXPECT_EQ(files.size(), 21u);  // 19 outputs, the plot and the report
    EXPECT_NE(std::find(files.begin(), files.end(), "levels.svg"), files.end());
    EXPECT_NE(std::find(files.begin(), files.end(), "report.json"), files.end());
    EXPECT_NE(r.out.find("peak dBFS"), std::string::npos);
    EXPECT_NE(r.out.find("LUFS"), std::string::npos);
    EXPECT_NE(r.out.find("true peak"), std::string::npos);
    EXPECT_NE(r.out.find("automation changes"), std::string::npos);
}

// Peak memory of a render, as the kernel counts it for the child process.
long peakKilobytes(const std::vector<std::string>& args) {
    const pid_t child = fork();
    if (child == 0) {
        const std::string launcher = TARNVALE_LAUNCHER;
        std::vector<char*> argv;
        if (!launcher.empty()) argv.push_back(const_cast<char*>(launcher.c_str()));
        argv.push_back(const_cast<char*>(TARNVALE_HOST_PATH));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// A render keeps a few blocks of audio in memory, not the whole session: 16
// stereo stems for 240 s take no more than for 60 s, with one worker or many.
TEST_F(Cli, LongRenderMemoryStaysFlat) {
    auto stems = [&](const std::string& name, int seconds, const char* jobs) {
        const std::string path = dir + "/" + name;
        if (!fs::exists(path))
            writeFile(name, 2, 8000, static_cast<int64_t>(seconds) * 8000, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                      [](size_t i, int c) { return 0.2f * static_cast<float>(std::sin(0.003 * static_cast<double>(i) + c)); });
        std::vector<std::string> args{"render", "--out", dir + "/out-" + name + jobs, "--sample-format", "pcm16", "--jobs", jobs};
        for (int c = 1; c <= 16; ++c) {
            args.push_back("--in");
            args.push_back(std::to_string(c) + "=" + path);
        }
        return args;
    };
    for (const char* jobs : {"1", "8"}) {
        const long short60 = peakKilobytes(stems("minute.wav", 60, jobs));
        const long long240 = peakKilobytes(stems("four-minutes.wav", 240, jobs));
        ASSERT_GT(short60, 0);
        ASSERT_GT(long240, 0);
        std::printf("figure: peak memory of a render of 16 stereo stems, 60 s / 240 s, --jobs %s (KiB) = %ld / %ld\n", jobs,
                    short60, long240);
        std::fflush(stdout);  // before the next child inherits the buffer
        EXPECT_LE(static_cast<double>(long240), 1.2 * static_cast<double>(short60)) << "--jobs " << jobs;
        EXPECT_LT(long240, 100L * 1024) << "--jobs " << jobs;
    }
}

// At 192 kHz not every loudness meter fits in memory beside the others for
// the whole render; those outputs are measured from their files afterwards.
// Sixteen direct outputs of the same stem read the same loudness either
// way, and the render stays under 100 MB with one worker or many.
TEST_F(Cli, HighRateRenderMeasuresEveryOutputInLittleMemory) {
    constexpr int kRate = 192000;
    // Loud, then quieter, so a file read back only in part would read otherwise.
    const std::string stem = writeFile("stem192.wav", 2, kRate, 8 * kRate, SF_FORMAT_WAV | SF_FORMAT_PCM_24, [](size_t i, int c) {
        const double t = static_cast<double>(i) / kRate;
        return static_cast<float>((t < 4.0 ? 0.5 : 0.02) * std::sin(2 * M_PI * (440.0 + 110.0 * c) * t));
    });
    auto args = [&](const char* jobs, const std::string& report) {
        std::vector<std::string> a{"render", "--out", dir + "/out" + jobs, "--jobs", jobs, "--report", report};
        for (int c = 1; c <= 16; ++c) a.insert(a.end(), {"--in", std::to_string(c) + "=" + stem});
        return a;
    };
    for (const char* jobs : {"1", "2", "64"}) {
        const std::string report = dir + "/report" + jobs + ".json";
        const long kilobytes = peakKilobytes(args(jobs, report));
        ASSERT_GT(kilobytes, 0) << "--jobs " << jobs;
        std::printf("figure: peak memory of a 192 kHz render of 16 stereo stems, --jobs %s (KiB) = %ld\n", jobs, kilobytes);
        std::fflush(stdout);  // before the next child inherits the buffer
        // Under an emulator the figure holds the emulator's own memory for
        // each of the workers' threads as well, and under the sanitizers
        // their shadow memory and the freed blocks they hold back: there
        // only the loudness is checked.
        if (!TARNVALE_SANITIZED && std::string(TARNVALE_LAUNCHER).empty())
            EXPECT_LT(kilobytes, 100L * 1024) << "--jobs " << jobs;
        else
            std::printf("peak memory not checked against 100 MB: the render runs under an emulator or the sanitizers\n");
        std::ifstream file(report);
        const nlohmann::json j = nlohmann::json::parse(file);
        ASSERT_EQ(j["outputs"].size(), 19u);
        const auto& first = j["outputs"][3];
        ASSERT_EQ(first["name"], "ch01");
        ASSERT_TRUE(first["lufs"].is_number());
        EXPECT_GT(first["lra"].get<double>(), 3.0) << "the stem gets quieter";
        for (size_t k = 4; k < 19; ++k) {
            const auto& o = j["outputs"][k];
            EXPECT_EQ(o["lufs"], first["lufs"]) << o["name"] << ", --jobs " << jobs;
            EXPECT_EQ(o["lra"], first["lra"]) << o["name"] << ", --jobs " << jobs;
        }
    }
}

// A 1 kHz tone in a 44.1 kHz stem is a 1 kHz tone in a 48 kHz render.
TEST_F(Cli, InputsAtOtherRatesAreConverted) {
    const std::string tone = writeFile("tone.wav", 2, 44100, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, [](size_t i, int) {
        return 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 44100.0));
    });
    const std::string quiet = writeFile("quiet.wav", 2, 48000, 100, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                        [](size_t, int) { return 0.0f; });
    const Outcome r = run({"render", "--in", "1=" + quiet, "--in", "2=" + tone, "--out", dir + "/out"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("channel 2: " + tone + " converted from 44100 to 48000 Hz"), std::string::npos) << r.out;
    tools::AudioFile main;
    std::string error;
    ASSERT_TRUE(tools::readAudio(dir + "/out/main.wav", main, error)) << error;
    EXPECT_EQ(main.sampleRate, 48000);
    ASSERT_NEAR(static_cast<double>(main.left.size()), 48000.0, 1.0);
    // Upward zero crossings over the steady middle of the tone: 1000 a second.
    int crossings = 0, first = -1, last = -1;
    for (size_t i = 4800; i + 1 < 43200; ++i)
        if (main.left[i] <= 0.0f && main.left[i + 1] > 0.0f) {
            ++crossings;
            if (first < 0) first = static_cast<int>(i);
            last = static_cast<int>(i);
        }
    const double hz = (crossings - 1) * 48000.0 / (last - first);
    EXPECT_NEAR(hz, 1000.0, 0.5);
    EXPECT_NEAR(*std::max_element(main.left.begin() + 4800, main.left.begin() + 43200), 0.5f, 0.01f);
}

// A stereo 1 kHz sine at -20 dBFS on both sides reads -20 LUFS; the JSON
// report holds what the table shows.
TEST_F(Cli, LoudnessAndTheReport) {
    const std::string sine = writeFile("sine.wav", 2, 48000, 48000 * 10, SF_FORMAT_WAV | SF_FORMAT_FLOAT, [](size_t i, int) {
        return 0.1f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 48000.0));
    });
    const std::string report = dir + "/out/report.json";
    const Outcome r = run({"render", "--in", "1=" + sine, "--out", dir + "/out", "--report", report});
    ASSERT_EQ(r.code, 0) << r.err;
    std::ifstream file(report);
    const nlohmann::json j = nlohmann::json::parse(file);
    for (const char* key : {"rate", "frames", "inputs", "outputs"}) EXPECT_TRUE(j.contains(key)) << key;
    EXPECT_EQ(j["rate"], 48000);
    EXPECT_EQ(j["frames"], 480000);
    ASSERT_EQ(j["inputs"].size(), 1u);
    EXPECT_EQ(j["inputs"][0]["channel"], 1);
    EXPECT_EQ(j["inputs"][0]["rate"], 48000);
    EXPECT_EQ(j["inputs"][0]["converted"], false);
    ASSERT_EQ(j["outputs"].size(), 4u);  // main, send1, send2, ch01
    const auto& main = j["outputs"][0];
    EXPECT_EQ(main["name"], "main");
    EXPECT_EQ(main["file"], dir + "/out/main.wav");
    EXPECT_NEAR(main["lufs"].get<double>(), -20.0, 0.3);
    EXPECT_NEAR(main["peak_dbfs"].get<double>(), -20.0, 0.01);
    EXPECT_NEAR(main["rms_dbfs"].get<double>(), -23.01, 0.01);
    EXPECT_NEAR(main["true_peak_dbtp"].get<double>(), -20.0, 0.2);
    EXPECT_NEAR(main["lra"].get<double>(), 0.0, 0.1);
    EXPECT_EQ(main["clipped"], 0);
    EXPECT_TRUE(j["outputs"][1]["lufs"].is_null()) << "a silent send has no integrated loudness";
    // Each output's row of the closing table shows the report's numbers.
    for (const auto& o : j["outputs"]) {
        std::ostringstream row;
        auto shown = [](const nlohmann::json& v) { return tools::dbText(v.is_null() ? -INFINITY : v.get<double>()); };
        const std::string name = o["name"];
        const size_t at = r.out.find("\n" + name + " ");
        ASSERT_NE(at, std::string::npos) << name;
        std::istringstream line(r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1));
        std::string cells[7];
        for (auto& c : cells) line >> c;
        // Loudness to 0.1 LU in both; levels to 0.01 dB in the report.
        auto near = [&](const std::string& cell, const nlohmann::json& v) {
            if (v.is_null()) return cell == "-inf";
            return std::fabs(std::stod(cell) - v.get<double>()) <= 0.05 + 1e-9;
        };
        EXPECT_TRUE(near(cells[1], o["peak_dbfs"])) << name << " " << cells[1] << " " << o["peak_dbfs"];
        EXPECT_TRUE(near(cells[2], o["rms_dbfs"])) << name << " " << cells[2] << " " << o["rms_dbfs"];
        EXPECT_EQ(cells[3], shown(o["lufs"])) << name;
        EXPECT_EQ(cells[4], shown(o["lra"])) << name;
        EXPECT_TRUE(near(cells[5], o["true_peak_dbtp"])) << name << " " << cells[5] << " " << o["true_peak_dbtp"];
        EXPECT_EQ(cells[6], std::to_string(o["clipped"].get<long>())) << name;
    }
}

// A file read back with libsndfile, interleaved.
struct ReadBack {
    int rate = 0, format = 0;
    std::vector<float> samples;
};
ReadBack readBack(const std::string& path) {
    ReadBack file;
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(sf, nullptr) << path << ": " << sf_strerror(nullptr);
    if (sf == nullptr) return file;
    EXPECT_EQ(info.channels, 2);
    file.rate = info.samplerate;
    file.format = info.format;
    file.samples.resize(static_cast<size_t>(info.frames) * 2);
    EXPECT_EQ(sf_readf_float(sf, file.samples.data(), info.frames), info.frames);
    sf_close(sf);
    return file;
}

double toDb(double linear) { return 20.0 * std::log10(linear); }

// Float files keep a hot main bus. 16- and 24-bit files clip it: the file
// holds the nearest step within full scale, the table and the report
// measure what the file holds (read back here with libsndfile), and a
// warning names the file, the count and the fix.
TEST_F(Cli, ClippedFilesAreMeasuredAsWrittenAndWarnedAbout) {
    const std::string hot = writeFile("hot.wav", 2, 8000, 8000, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](size_t i, int c) {
        return (c == 0 ? 0.9f : 0.7f) * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    });
    const std::vector<std::string> hotMix{"--in", "1=" + hot, "--in", "2=" + hot, "--in", "3=" + hot};
    auto renderAs = [&](const std::string& out, std::vector<std::string> extra) {
        std::vector<std::string> args{"render", "--out", out, "--report", out + ".json"};
        args.insert(args.end(), hotMix.begin(), hotMix.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    };
    const Outcome asFloat = renderAs(dir + "/float", {"--sample-format", "float"});
    ASSERT_EQ(asFloat.code, 0) << asFloat.err;
    EXPECT_EQ(asFloat.err, "") << "nothing clips in a float file";
    const ReadBack mix = readBack(dir + "/float/main.wav");
    EXPECT_EQ(mix.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    EXPECT_GT(*std::max_element(mix.samples.begin(), mix.samples.end()), 2.0f) << "three channels sum past full scale";
    EXPECT_NE(asFloat.out.find("wav float"), std::string::npos) << asFloat.out;

    const struct {
        std::vector<std::string> options;
        int subtype, bits;
        const char* file;
    } cases[] = {
        {{}, SF_FORMAT_PCM_16, 16, "main.wav"},  // the first input's sample format by default
        {{"--sample-format", "pcm24"}, SF_FORMAT_PCM_24, 24, "main.wav"},
        {{"--format", "flac"}, SF_FORMAT_PCM_16, 16, "main.flac"},
        {{"--format", "aiff", "--sample-format", "pcm24"}, SF_FORMAT_PCM_24, 24, "main.aiff"},
    };
    int k = 0;
    for (const auto& c : cases) {
        const std::string out = dir + "/int" + std::to_string(k++);
        const Outcome r = renderAs(out, c.options);
        ASSERT_EQ(r.code, 0) << r.err;
        const std::string path = out + "/" + c.file;
        const ReadBack file = readBack(path);
        ASSERT_EQ(file.samples.size(), mix.samples.size()) << path;
        EXPECT_EQ(file.format & SF_FORMAT_SUBMASK, c.subtype) << path;
        // Each sample is the float mix's nearest step, clipped at the range.
        const double steps = std::ldexp(1.0, c.bits - 1);
        uint64_t clipped = 0;
        double peak = 0.0, squares = 0.0;
        for (size_t i = 0; i < file.samples.size(); ++i) {
            const double step = std::nearbyint(static_cast<double>(mix.samples[i]) * steps);
            clipped += step > steps - 1 || step < -steps;
            const double expected = std::min(std::max(step, -steps), steps - 1) / steps;
            ASSERT_EQ(file.samples[i], expected) << path << " sample " << i;
            peak = std::max(peak, std::fabs(static_cast<double>(file.samples[i])));
            squares += static_cast<double>(file.samples[i]) * file.samples[i];
        }
        ASSERT_GT(clipped, 1000u) << path;
        EXPECT_EQ(peak, 1.0) << "the negative side reaches -1 exactly";
        // The report's figures are the file's.
        std::ifstream json(out + ".json");
        const nlohmann::json j = nlohmann::json::parse(json);
        const auto& main = j["outputs"][0];
        EXPECT_EQ(main["clipped"].get<uint64_t>(), clipped) << path;
        EXPECT_NEAR(main["peak_dbfs"].get<double>(), toDb(peak), 0.005) << path;
        EXPECT_NEAR(main["rms_dbfs"].get<double>(), toDb(std::sqrt(squares / static_cast<double>(file.samples.size()))), 0.005)
            << path;
        ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(file.rate), EBUR128_MODE_I);
        ebur128_add_frames_float(st, file.samples.data(), file.samples.size() / 2);
        double lufs = 0.0;
        ebur128_loudness_global(st, &lufs);
        ebur128_destroy(&st);
        EXPECT_NEAR(main["lufs"].get<double>(), lufs, 0.05) << path;
        // The true peak (its own accuracy is tested with the meters): the
        // file's, measured as a float file's, not the mix's.
        std::vector<float> left, right;
        for (size_t i = 0; i < file.samples.size(); i += 2) {
            left.push_back(file.samples[i]);
            right.push_back(file.samples[i + 1]);
        }
        tools::LevelMeter asRead(static_cast<int64_t>(left.size()), tools::FileSamples(SF_FORMAT_WAV | SF_FORMAT_FLOAT));
        asRead.add(left.data(), right.data(), left.size());
        asRead.finish();
        EXPECT_NEAR(main["true_peak_dbtp"].get<double>(), toDb(asRead.truePeak()), 0.005) << path;
        EXPECT_LT(main["true_peak_dbtp"].get<double>(), 2.0) << "not the mix's +8 dB: " << path;
        // The table's main row shows the same, and the warning says what to do.
        const size_t row = r.out.find("\nmain ");
        ASSERT_NE(row, std::string::npos) << r.out;
        std::istringstream cells(r.out.substr(row + 1));
        std::string name, peakCell;
        cells >> name >> peakCell;
        EXPECT_EQ(peakCell, "0.0") << r.out;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("warning: " + path + " clipped " + std::to_string(clipped) + " samples"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(std::to_string(c.bits) + "-bit"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--sample-format float"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("lower the levels"), std::string::npos) << r.err;
        EXPECT_EQ(j["outputs"][3]["clipped"], 0) << "one channel alone stays below full scale";
    }
}

// Damaged MIDI files: one line, exit code 2, no output.
TEST_F(Cli, DamagedMidiFilesAreRefused) {
    const std::string good = writeInput("good.wav", 2, 44100, 64, 0.5f);
    miditest::Track ok;
    ok.event(0, {0xB0, 118, 64}).end();
    miditest::Bytes truncated = miditest::file(0, 96, {ok});
    truncated.resize(9);
    miditest::Bytes tooLong = miditest::file(0, 96, {ok});
    tooLong[18] = 0x7F;  // a track longer than the file
    miditest::Track overlong, noStatus, metaPastEnd;
    overlong.bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xB0, 1, 2};
    noStatus.event(0, {0x40, 0x40});
    metaPastEnd.event(0, {0xFF, 0x51, 0x20, 0x07, 0xA1});
    const struct {
        const char* what;
        miditest::Bytes bytes;
    } cases[] = {
        {"truncated header", truncated},
        {"track longer than the file", tooLong},
        {"over-long variable-length number", miditest::file(0, 96, {overlong})},
        {"running status without a status", miditest::file(0, 96, {noStatus})},
        {"meta length past the end", miditest::file(0, 96, {metaPastEnd})},
        {"zero tracks", miditest::file(1, 96, {})},
    };
    for (const auto& c : cases) {
        const std::string midi = writeBytes("damaged.mid", c.bytes);
        const Outcome r = run({"render", "--in", "1=" + good, "--out", dir + "/out", "--midi", midi});
        EXPECT_EQ(r.code, 2) << c.what;
        EXPECT_EQ(lineCount(r.err), 1) << c.what << ": " << r.err;
        EXPECT_EQ(r.err.rfind("tarnvale-host: " + midi, 0), 0u) << c.what << ": " << r.err;
        EXPECT_TRUE(filesIn(dir + "/out").empty()) << c.what;
    }
}

// A file that cannot take its final name: the message names that name, and
// nothing is left behind, temporary files included.
TEST_F(Cli, ErrorsNameTheFinalPath) {
    const std::string good = writeInput("good.wav", 2, 44100, 64, 0.5f);
    fs::create_directories(dir + "/out/send1.wav");  // a folder where a file should go
    const Outcome r = run({"render", "--in", "1=" + good, "--out", dir + "/out"});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(lineCount(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(dir + "/out/send1.wav"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("partial"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(dir + "/out"), std::vector<std::string>{"send1.wav"});
}

// A render longer than a day is refused before anything is written.
TEST(RenderPlan, ADayIsTheLimit) {
    struct Endless : tools::Source {
        int64_t frames() const override { return static_cast<int64_t>(25) * 3600 * 8000; }
        bool read(float* l, float* r, size_t n, std::string&) override {
            std::fill(l, l + n, 0.0f);
            std::fill(r, r + n, 0.0f);
            return true;
        }
    };
    tools::RenderPlan plan;
    plan.pluginPath = TARNVALE_PLUGIN_PATH;
    plan.sampleRate = 8000;
    plan.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    plan.outDir = testing::TempDir() + "tarnvale-day";
    tools::RenderInput input;
    input.channel = 1;
    input.source = std::make_unique<Endless>();
    plan.inputs.push_back(std::move(input));
    std::ostringstream out, err;
    EXPECT_EQ(tools::render(plan, out, err), 2);
    EXPECT_NE(err.str().find("at most 24"), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(plan.outDir));
}

// Without a module named, tarnvale-host takes the first tarnvale.so beside
// itself, in its installation's lib/vst, in VST_PATH, then in ~/.vst, and
// says which file it loaded.
TEST_F(Cli, FindsThePluginWhereItIsInstalled) {
    const std::string prefix = dir + "/prefix", home = dir + "/home";
    fs::create_directories(prefix + "/bin");
    fs::create_directories(home + "/.vst");
    fs::create_directories(dir + "/first");
    fs::create_directories(dir + "/second");
    fs::copy_file(TARNVALE_HOST_PATH, prefix + "/bin/tarnvale-host");
    auto info = [&](const std::string& vstPath) {
        const std::string command = "env HOME=" + quote(home) + " VST_PATH=" + quote(vstPath) + " " +
                                    programCommand(prefix + "/bin/tarnvale-host") + " info 2>&1 | head -1";
        FILE* pipe = popen(command.c_str(), "r");
        char line[1024] = {};
        if (pipe != nullptr) {
            if (std::fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
            pclose(pipe);
        }
        return std::string(line);
    };
    const bool systemWide = fs::exists("/usr/local/lib/vst/tarnvale.so") || fs::exists("/usr/lib/vst/tarnvale.so");
    if (!systemWide) {
        EXPECT_NE(info("").find("cannot find tarnvale.so"), std::string::npos) << info("");
    }

    fs::copy_file(TARNVALE_PLUGIN_PATH, home + "/.vst/tarnvale.so");
    EXPECT_EQ(info(dir + "/first"), "Module       " + home + "/.vst/tarnvale.so\n");
    fs::copy_file(TARNVALE_PLUGIN_PATH, dir + "/second/tarnvale.so");
    EXPECT_EQ(info(dir + "/first:" + dir + "/second"), "Module       " + dir + "/second/tarnvale.so\n");
    fs::create_directories(prefix + "/lib/vst");
    fs::copy_file(TARNVALE_PLUGIN_PATH, prefix + "/lib/vst/tarnvale.so");
    EXPECT_EQ(info(dir + "/second"), "Module       " + prefix + "/lib/vst/tarnvale.so\n");
    fs::copy_file(TARNVALE_PLUGIN_PATH, prefix + "/bin/tarnvale.so");
    EXPECT_EQ(info(dir + "/second"), "Module       " + prefix + "/bin/tarnvale.so\n");

    const Outcome version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("tarnvale-host ", 0), 0u) << version.out;
}

}  // namespace
