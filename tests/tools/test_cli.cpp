// tarnvale-host through its command line, on small generated files.
#include <gtest/gtest.h>
#include <smf.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio_io.h"
#include "support/reference_mixer.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnvale-cli-XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dir); }

    Outcome run(const std::vector<std::string>& args) {
        std::string command = quote(TARNVALE_HOST_PATH);
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
        const std::string path = dir + "/" + name;
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        std::vector<float> data(static_cast<size_t>(frames * channels));
        for (size_t i = 0; i < data.size(); ++i) data[i] = scale * static_cast<float>(std::sin(0.01 * (i + 1) * (channels + 1)));
        sf_writef_float(sf, data.data(), frames);
        sf_close(sf);
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

int lineCount(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST_F(Cli, RenderEqualsThePerFrameModel) {
    const std::string stereo = writeInput("a.wav", 2, 48000, 1000, 0.5f);
    const std::string mono = writeInput("b.wav", 1, 48000, 700, 0.8f);
    const Outcome r = run({"render", "--in", "1=" + stereo, "--in", "3=" + mono, "--out", dir + "/out", "--block", "100",
                       "--set", "Ch.03 Panpot=0.8", "--set", "13=64%", "--set", "Master Send 1=0.5", "--set",
                       "Ch.03 Send 1=0.3", "--tail", "0.001"});
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
                       "1=200%", "--set", "Master Panpot=0.75", "--set", "Ch.02 Send 2=128 %", "--all"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* echo : {"set Ch.02 Volume = 50.00 %", "set Master Volume = 200.0 %", "set Master Panpot = 0.500",
                             "set Ch.02 Send 2 = 128.0 %"})
        EXPECT_NE(r.out.find(echo), std::string::npos) << echo << "\n" << r.out;
    EXPECT_EQ(filesIn(dir + "/out").size(), 19u) << "--all writes every channel";
}

// A MIDI file with a tempo change: controller moves land on their frames.
TEST_F(Cli, MidiFileControllerMovesLandOnTheirFrames) {
    const std::string input = writeInput("a.wav", 2, 48000, 96000, 0.25f);
    const std::string midi = dir + "/moves.mid";
    {
        smf_t* smf = smf_new();
        ASSERT_EQ(smf_set_ppqn(smf, 960), 0);
        smf_track_t* track = smf_track_new();
        smf_add_track(smf, track);
        // 120 bpm: 1920 pulses a second. Pulse 960 is 0.5 s, frame 24000.
        smf_track_add_event_pulses(track, smf_event_new_from_bytes(0xB4, 118, 0), 960);
        // From pulse 1920 (1.0 s) on, 60 bpm: 960 pulses a second.
        unsigned char tempo[] = {0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40};
        smf_track_add_event_pulses(track, smf_event_new_from_pointer(tempo, sizeof tempo), 1920);
        // Pulse 2400 is 1.0 s + 0.5 s, frame 72000 (at 120 bpm throughout it would be 60000).
        smf_track_add_event_pulses(track, smf_event_new_from_bytes(0xBF, 118, 127), 2400);
        ASSERT_EQ(smf_save(smf, midi.c_str()), 0);
        smf_delete(smf);
    }
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
    const std::string other = writeInput("other.wav", 2, 48000, 32, 0.5f);
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
        {"missing file", {"render", "--in", "1=" + dir + "/missing.wav", "--out", out}, "cannot read"},
        {"unreadable file", {"render", "--in", "1=" + text, "--out", out}, "cannot read"},
        {"rates differ", {"render", "--in", "1=" + good, "--in", "2=" + other, "--out", out}, "share one sample rate"},
        {"channel 0", {"render", "--in", "0=" + good, "--out", out}, "outside 1..16"},
        {"channel 17", {"render", "--in", "17=" + good, "--out", out}, "outside 1..16"},
        {"no channel", {"render", "--in", good, "--out", out}, "N=FILE"},
        {"unknown name", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.3 Panpot=0.5"}, "\"Ch.03 Panpot\""},
        {"value beyond the panel", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Volume=129%"}, "outside"},
        {"plain value beyond 0..1", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Volume=1.5"}, "outside 0..1"},
        {"wrong unit", {"render", "--in", "1=" + good, "--out", out, "--set", "Ch.01 Volume=3dB"}, "not in"},
        {"index past the end", {"render", "--in", "1=" + good, "--out", out, "--set", "68=0.5"}, "out of range"},
        {"not a plug-in", {"render", NOT_A_PLUGIN_PATH, "--in", "1=" + good, "--out", out}, "not a VST 2.4 plug-in"},
        {"refusing plug-in", {"render", REFUSING_PATH, "--in", "1=" + good, "--out", out}, "refused"},
        {"not a library", {"render", text, "--in", "1=" + good, "--out", out}, "tarnvale-host:"},
        {"info of a non-plug-in", {"info", NOT_A_PLUGIN_PATH}, "not a VST 2.4 plug-in"},
        {"unwritable folder", {"render", "--in", "1=" + good, "--out", blocker + "/sub"}, "cannot create output folder"},
        {"rate mismatch", {"render", "--in", "1=" + good, "--out", out, "--rate", "48000"}, "differs"},
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

TEST_F(Cli, ProgressShowsOnATerminalOnly) {
    const std::string input = writeInput("long.wav", 2, 8000, 12000, 0.1f);  // 1.5 s
    const Outcome quiet = run({"render", "--in", "1=" + input, "--out", dir + "/quiet"});
    ASSERT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "") << "nothing on standard error when it is not a terminal";
    // script(1) gives the render a terminal; its log holds what appeared there.
    const std::string log = dir + "/terminal.log";
    const std::string command = "script -qec " +
                                quote(quote(TARNVALE_HOST_PATH) + " render --in 1=" + quote(input) + " --out " +
                                      quote(dir + "/tty") + " --block 64") +
                                " " + quote(log) + " >/dev/null 2>&1";
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_NE(slurp(log).find("rendering ["), std::string::npos) << slurp(log);
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
    EXPECT_EQ(filesIn(dir + "/out"), (std::vector<std::string>{"levels.svg", "out01.wav"}));
    tools::AudioFile in, out;
    std::string error;
    ASSERT_TRUE(tools::readAudio(input, in, error));
    ASSERT_TRUE(tools::readAudio(dir + "/out/out01.wav", out, error));
    const float gain = std::pow(10.0f, -6.0f / 20.0f);
    for (size_t i = 0; i < 256; ++i) ASSERT_NEAR(out.left[i], in.left[i] * gain, 1e-3f);
    EXPECT_NE(slurp(dir + "/out/levels.svg").find("<polyline"), std::string::npos);
}

TEST_F(Cli, DemoWritesFilesTableAndPlot) {
    const Outcome r = run({"demo", dir + "/demo"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto files = filesIn(dir + "/demo");
    EXPECT_EQ(files.size(), 20u);  // 19 outputs and the plot
    EXPECT_NE(std::find(files.begin(), files.end(), "levels.svg"), files.end());
    EXPECT_NE(r.out.find("peak dBFS"), std::string::npos);
    EXPECT_NE(r.out.find("automation changes"), std::string::npos);
}

}  // namespace
