// tarnvale-host as a newcomer meets it, through its command line: values
// as the panel shows them, the messages for each mistake, argument files.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audio_io.h"
#include "cli_fixture.h"
#include "engine/tables.h"
#include "identity.h"
#include "midi_bytes.h"

namespace {

using clitest::lineCount;
using clitest::Outcome;
using clitest::slurp;

class CommandLine : public clitest::Cli {
protected:
    nlohmann::json report(const std::string& path) { return nlohmann::json::parse(slurp(path)); }
    void writeText(const std::string& name, const std::string& text) { std::ofstream(dir + "/" + name) << text; }
};

float nearestStored(long double gain, long double unity) { return static_cast<float>(gain * unity); }

// Each value as the panel shows it lands on the exact stored value where a
// float holds it (unity is 0.78125 on a channel, 0.25 on the master), else
// the nearest; the echo is the plug-in's own text, and says how the value
// was given where that text shows it otherwise. Names match in any case.
TEST_F(CommandLine, SetReadsLevelsInPercentAndDecibelsAndPansAsShown) {
    const long double minus6 = std::pow(10.0L, -6.0L / 20.0L);
    const struct {
        const char* given;
        int index;
        float stored;
        const char* echo;
    } cases[] = {
        {"Ch.01 Volume=100%", 5, 0.78125f, "set Ch.01 Volume = 100.0 %\n"},
        {"Master Volume=100%", 1, 0.25f, "set Master Volume = 100.0 %\n"},
        {"Ch.02 Volume=60%", 9, 0.46875f, "set Ch.02 Volume = 60.00 %\n"},
        {"Ch.03 Panpot=-0.4", 12, 0.3f, "set Ch.03 Panpot = -0.399 (given as -0.4)\n"},
        {"Ch.03 Volume=50 %", 13, 0.390625f, "set Ch.03 Volume = 50.00 %\n"},
        {"ch.04 volume=0dB", 17, 0.78125f, "set Ch.04 Volume = 100.0 % (given as 0dB)\n"},
        {"Ch.05 Volume=-6dB", 21, nearestStored(minus6, 0.78125L), "set Ch.05 Volume = 50.11 % (given as -6dB)\n"},
        {"Ch.06 Volume=-inf dB", 25, 0.0f, "set Ch.06 Volume = 0.000 % (given as -inf dB)\n"},
        {"MASTER SEND 1=-6 DB", 2, nearestStored(minus6, 0.25L), "set Master Send 1 = 50.11 % (given as -6 DB)\n"},
        {"Ch.07 Send 2=128%", 31, 1.0f, "set Ch.07 Send 2 = 128.0 %\n"},
        {"Master Panpot=0.75 raw", 0, 0.75f, "set Master Panpot = 0.500 (given as 0.75 raw)\n"},
        {"33=64%", 33, 0.5f, "set Ch.08 Volume = 64.00 %\n"},
        {"Ch.08 Panpot=1", 32, 1.0f, "set Ch.08 Panpot = 1.000\n"},
        {"Ch.09 Panpot=0", 36, 0.5f, "set Ch.09 Panpot = 0.000\n"},
        {"Ch.09 Volume=+2dB", 37, nearestStored(std::pow(10.0L, 0.1L), 0.78125L), "(given as +2dB)\n"},
    };
    const std::string input = writeInput("a.wav", 2, 44100, 64, 0.5f);
    std::vector<std::string> args{"render", "--in", "1=" + input, "--out", dir + "/out", "--report", dir + "/r.json"};
    for (const auto& c : cases) {
        args.push_back("--set");
        args.push_back(c.given);
    }
    const Outcome r = run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto settings = report(dir + "/r.json")["settings"];
    ASSERT_EQ(settings.size(), std::size(cases));
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        EXPECT_EQ(settings[k]["index"], c.index) << c.given;
        EXPECT_EQ(settings[k]["value"].get<float>(), c.stored) << c.given;
        EXPECT_NE(r.out.find(c.echo), std::string::npos) << c.given << "\n" << r.out;
    }
    // -6 dB is the gain 10^(-6/20) to within the float's own precision.
    const double gain = settings[6]["value"].get<double>() / 0.78125;
    EXPECT_NEAR(gain, static_cast<double>(minus6), 1e-7);
}

// At unity, given in percent or in dB, the main mix is the input bit for bit.
TEST_F(CommandLine, UnityGivenAsShownPassesTheInputUntouched) {
    const std::string input = writeInput("a.wav", 2, 48000, 512, 0.7f);
    const Outcome r = run({"render", "--in", "1=" + input, "--out", dir + "/out", "--set", "Ch.01 Volume=100%",
                           "--set", "Master Volume=0dB"});
    ASSERT_EQ(r.code, 0) << r.err;
    tools::AudioFile in, main;
    std::string error;
    ASSERT_TRUE(tools::readAudio(input, in, error));
    ASSERT_TRUE(tools::readAudio(dir + "/out/main.wav", main, error)) << error;
    ASSERT_EQ(main.left.size(), in.left.size());
    for (size_t i = 0; i < in.left.size(); ++i) {
        ASSERT_EQ(main.left[i], in.left[i]) << i;
        ASSERT_EQ(main.right[i], in.right[i]) << i;
    }
}

// Every --set mistake: one line, exit 2, naming what was wrong and showing
// what would be right.
TEST_F(CommandLine, SetMistakesSayWhatWouldBeRight) {
    const std::string input = writeInput("a.wav", 2, 44100, 32, 0.5f);
    const struct {
        const char* given;
        std::vector<const char*> said;
    } cases[] = {
        {"Ch.01 Volume=0.5",
         {"a level needs its unit", "\"Ch.01 Volume=0.5%\" (0.5 % of unity gain, -46.0 dB)",
          "\"Ch.01 Volume=0.5dB\" (105.9 %)", "\"Ch.01 Volume=0.5 raw\" (the stored value, 64.00 %)"}},
        {"Master Send 1=0.5", {"\"Master Send 1=0.5%\"", "\"Master Send 1=0.5 raw\" (the stored value, 200.0 %)"}},
        {"Ch.01 Volume=64",
         {"\"Ch.01 Volume=64%\" (64 % of unity gain, -3.9 dB)", "\"Ch.01 Volume=64dB\" (beyond the +2.1 dB it reaches)",
          "\"Ch.01 Volume=64 raw\" (outside the stored range 0 to 1)"}},
        {"Ch.01 Volume=1,5%", {"decimal point", "\"Ch.01 Volume=1.5%\""}},
        {"Ch.01 Volume=3dB", {"outside what the panel shows (0 to 128 %, up to +2.1 dB)"}},
        {"Master Volume=401%", {"outside what the panel shows (0 to 400 %, up to +12.0 dB)"}},
        {"Ch.01 Volume=-1%", {"outside"}},
        {"Ch.01 Panpot=20%", {"Ch.01 Panpot is a pan", "\"Ch.01 Panpot=-0.4\"", "not \"20%\""}},
        {"Ch.01 Panpot=-1.01", {"outside what the panel shows (-1 to 1)"}},
        {"Ch.01 Volume=2 parsecs", {"is a level", "not in \"parsecs\"", "\"Ch.01 Volume=-6dB\""}},
        {"Ch.01 Volume=loud", {"\"loud\" is not a value for Ch.01 Volume", "\"Ch.01 Volume=50%\""}},
        {"Ch.01 Volume=inf dB", {"not a value"}},
        {"Ch.01 Volume=nan%", {"not a value"}},
        {"Ch.01 Volume=0x1p-1 raw", {"not a value"}},
        {"Ch.01 Volume=1.5 raw", {"outside 0..1"}},
        {"Ch.1 Volume=50%", {"unknown parameter \"Ch.1 Volume\"", "nearest: \"Ch.01 Volume\"", "info --parameters"}},
        {"Ch.01 Volume", {"NAME=VALUE", "--set \"Ch.01 Volume=-3dB\""}},
        {"68=50%", {"out of range", "0 to 67"}},
        {"99999999999999999999=1 raw", {"out of range"}},
    };
    for (const auto& c : cases) {
        const Outcome r = run({"render", "--in", "1=" + input, "--out", dir + "/out", "--set", c.given});
        EXPECT_EQ(r.code, 2) << c.given;
        EXPECT_EQ(lineCount(r.err), 1) << c.given << ": " << r.err;
        for (const char* part : c.said) EXPECT_NE(r.err.find(part), std::string::npos) << c.given << ": " << r.err;
        EXPECT_TRUE(filesIn(dir + "/out").empty()) << c.given;
    }
}

// Another effect is read by its own texts: a value with its unit, or raw;
// a plain number where the panel has a unit is refused with both forms.
TEST_F(CommandLine, OtherEffectsTakeTheirOwnUnit) {
    const std::string input = writeInput("a.wav", 2, 44100, 32, 0.5f);
    const Outcome plain = run({"render", TINY_GAIN_PATH, "--in", "1=" + input, "--out", dir + "/out", "--set", "gain=-3"});
    EXPECT_EQ(plain.code, 2);
    EXPECT_NE(plain.err.find("\"Gain=-3 dB\""), std::string::npos) << plain.err;
    EXPECT_NE(plain.err.find("\"Gain=-3 raw\""), std::string::npos) << plain.err;
    const Outcome percent = run({"render", TINY_GAIN_PATH, "--in", "1=" + input, "--out", dir + "/out", "--set", "Gain=50%"});
    EXPECT_EQ(percent.code, 2);
    EXPECT_NE(percent.err.find("is set in dB, not in \"%\""), std::string::npos) << percent.err;
    const Outcome shown = run({"render", TINY_GAIN_PATH, "--in", "1=" + input, "--out", dir + "/out", "--set", "GAIN=-6 db"});
    ASSERT_EQ(shown.code, 0) << shown.err;
    EXPECT_NE(shown.out.find("set Gain = -6.00 dB\n"), std::string::npos) << shown.out;
}

// Every mistake a newcomer makes on the command line: exit 2 and one line
// naming what was wrong and what would be right, writing nothing.
TEST_F(CommandLine, MistakesNameWhatWasWrongAndWhatWouldBeRight) {
    const std::string good = writeInput("good.wav", 2, 44100, 32, 0.5f);
    const std::string out = dir + "/out";
    const std::vector<std::string> ok{"render", "--in", "1=" + good, "--out", out};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = ok;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> said;
    } cases[] = {
        {"misspelt command", {"rendr"}, {"unknown command \"rendr\"; did you mean render?", "info, render and demo"}},
        {"unknown command", {"mix"}, {"unknown command \"mix\"", "tarnvale-host --help"}},
        {"misspelt option", {"render", "--inn", "1=" + good, "--out", out}, {"unknown option --inn for render; did you mean --in?"}},
        {"option under another name", with({"--gain", "3"}), {"unknown option --gain", "--set \"Master Volume=-3dB\""}},
        {"short option of other tools", with({"-o", out}), {"unknown option -o", "--out DIR"}},
        {"option before the command", {"--bogus", "render"}, {"unknown option --bogus", "options follow the command"}},
        {"misspelt info option", {"info", "--parmeters"}, {"did you mean --parameters?"}},
        {"rate in kHz", with({"--rate", "44.1k"}), {"--rate takes the rate in Hz", "as in --rate 44100", "not \"44.1k\""}},
        {"block in k", with({"--block", "1k"}), {"--block takes a whole number of frames", "--block 1000"}},
        {"tail in minutes", with({"--tail", "2min"}), {"--tail takes seconds", "--tail 2.5"}},
        {"missing input", {"render", "--in", "1=" + dir + "/nosuch.wav", "--out", out},
         {"channel 1's input " + dir + "/nosuch.wav does not exist"}},
        {"folder as input", {"render", "--in", "2=" + dir, "--out", out}, {"channel 2's input " + dir + " is a folder"}},
        {"missing MIDI file", with({"--midi", dir + "/nosuch.mid"}), {"the MIDI file " + dir + "/nosuch.mid does not exist"}},
        {"two inputs to one --in", with({"2=" + good}), {"give each input its own --in, as in --in 2=" + good}},
        {"input without --in", {"render", good, "--out", out}, {"give inputs as --in N=FILE, as in --in 1=" + good}},
        {"setting name unquoted", with({"--set", "Ch.01", "Volume=50%"}), {"quote a setting", "--set \"Ch.01 Volume=50%\""}},
        {"no input", {"render", "--out", out}, {"render needs at least one input", "--in 1=drums.wav"}},
        {"no output folder", {"render", "--in", "1=" + good}, {"render needs --out DIR"}},
        {"option without its value", {"render", "--out", out, "--in"}, {"--in needs a value: --in N=FILE"}},
        {"two modules", with({"--plugin", TINY_GAIN_PATH, REFUSING_PATH}), {"render is given two modules"}},
        {"two demo folders", {"demo", dir + "/a", "--out", dir + "/b"}, {"demo is given two folders"}},
        {"missing argument file", {"render", "@" + dir + "/nosuch.txt"}, {"the argument file " + dir + "/nosuch.txt does not exist"}},
        {"empty argument file name", {"render", "@"}, {"\"@\" names no argument file"}},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, 2) << c.what;
        EXPECT_EQ(lineCount(r.err), 1) << c.what << ": " << r.err;
        EXPECT_EQ(r.err.rfind("tarnvale-host: ", 0), 0u) << c.what << ": " << r.err;
        for (const auto& part : c.said) EXPECT_NE(r.err.find(part), std::string::npos) << c.what << ": " << r.err;
        EXPECT_TRUE(filesIn(out).empty()) << c.what;
    }
}

// No arguments: a short usage on standard error. help, version and -V do
// what they say.
TEST_F(CommandLine, UsageHelpAndVersion) {
    const Outcome bare = run({});
    EXPECT_EQ(bare.code, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_EQ(bare.err.rfind("usage: tarnvale-host render --in N=FILE", 0), 0u) << bare.err;
    EXPECT_LE(lineCount(bare.err), 6) << "short: " << bare.err;
    EXPECT_NE(bare.err.find("--help"), std::string::npos);

    const std::string version = std::string("tarnvale-host ") + tarnvale::identity::kVersion + "\n";
    for (const char* asked : {"-V", "--version", "version"}) {
        const Outcome r = run({asked});
        EXPECT_EQ(r.code, 0) << asked;
        EXPECT_EQ(r.out, version) << asked;
    }
    const Outcome help = run({"help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Usage: tarnvale-host [OPTIONS] [COMMAND]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("render @session.txt"), std::string::npos) << "examples";
    const Outcome renderHelp = run({"help", "render"});
    EXPECT_EQ(renderHelp.code, 0);
    EXPECT_EQ(renderHelp.out, run({"render", "--help"}).out);
    for (const char* shown : {"--block FRAMES=512", "--tail SECONDS=0", "(default: the first input's)", "-6dB", "--plugin MODULE",
                              "progress bar", "time left", "--clean"})
        EXPECT_NE(renderHelp.out.find(shown), std::string::npos) << shown << "\n" << renderHelp.out;
    EXPECT_NE(run({"demo", "--help"}).out.find("--out DIR=demo-out"), std::string::npos);
}

// An argument file holds a session: one argument a line, comments, blank
// lines, an option and its value on one line, shell quotes, CRLF endings,
// and files named from files. It renders what the same arguments typed do.
TEST_F(CommandLine, ArgumentFileRendersWhatTheTypedArgumentsDo) {
    const std::string drums = writeInput("drums.wav", 2, 44100, 300, 0.5f);
    const std::string spaced = writeInput("bass line.wav", 1, 44100, 200, 0.3f);
    writeText("common.txt", "--set=Master Volume=50%\r\n# CRLF endings too\r\n\r\n");
    writeText("session.txt",
              "# a session kept to render again\n"
              "\n"
              "render\n"
              "--in 1=" + drums + "\n"
              "  --in \"2=" + spaced + "\"  \n"
              "--set Ch.01 Volume=-6dB\n"
              "--set\n"
              "'Ch.02 Panpot=-0.5'\n"
              "@" + dir + "/common.txt\n"
              "--out=" + dir + "/from-file\n");
    const Outcome fromFile = run({"@" + dir + "/session.txt"});
    ASSERT_EQ(fromFile.code, 0) << fromFile.err;
    for (const char* echo : {"set Ch.01 Volume = 50.11 % (given as -6dB)", "set Ch.02 Panpot = -0.500", "set Master Volume = 50.00 %"})
        EXPECT_NE(fromFile.out.find(echo), std::string::npos) << echo << "\n" << fromFile.out;
    const Outcome typed = run({"render", "--in", "1=" + drums, "--in", "2=" + spaced, "--set", "Ch.01 Volume=-6dB", "--set",
                               "Ch.02 Panpot=-0.5", "--set", "Master Volume=50%", "--out", dir + "/typed"});
    ASSERT_EQ(typed.code, 0) << typed.err;
    EXPECT_EQ(filesIn(dir + "/from-file"), filesIn(dir + "/typed"));
    for (const auto& name : filesIn(dir + "/typed")) {  // the samples (float files stamp their write time)
        tools::AudioFile a, b;
        std::string error;
        ASSERT_TRUE(tools::readAudio(dir + "/from-file/" + name, a, error)) << error;
        ASSERT_TRUE(tools::readAudio(dir + "/typed/" + name, b, error)) << error;
        EXPECT_EQ(a.left, b.left) << name;
        EXPECT_EQ(a.right, b.right) << name;
    }

    // After the command, and with more arguments after it.
    const Outcome mixed = run({"render", "@" + dir + "/common.txt", "--in", "1=" + drums, "--out", dir + "/mixed"});
    ASSERT_EQ(mixed.code, 0) << mixed.err;
    EXPECT_NE(mixed.out.find("set Master Volume = 50.00 %"), std::string::npos) << mixed.out;

    writeText("loop.txt", "@" + dir + "/loop.txt\n");
    const Outcome loop = run({"render", "@" + dir + "/loop.txt"});
    EXPECT_EQ(loop.code, 2);
    EXPECT_NE(loop.err.find("nest more than 8 deep"), std::string::npos) << loop.err;
}

// info --parameters: one line per parameter with its controller, as the
// engine's table has it; another effect's list has no controller column.
TEST_F(CommandLine, ParameterListShowsEachControllerOnce) {
    const Outcome r = run({"info", "--parameters"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string header;
    std::getline(lines, header);
    EXPECT_NE(header.find("controller"), std::string::npos) << header;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_LT(count, tarnvale::kNumParams) << line;
        const auto& p = tarnvale::kParameters[static_cast<size_t>(count)];
        EXPECT_EQ(line.rfind(std::string(5 - std::to_string(count).size(), ' ') + std::to_string(count) + "  " + p.name, 0), 0u)
            << line;
        EXPECT_EQ(std::stoi(line.substr(line.find_last_of(' ') + 1)), p.controller) << line;
    }
    EXPECT_EQ(count, tarnvale::kNumParams);
    EXPECT_NE(r.out.find("    5  Ch.01 Volume       100.0 %         114\n"), std::string::npos) << r.out;

    const Outcome other = run({"info", "--parameters", "--plugin", TINY_GAIN_PATH});
    ASSERT_EQ(other.code, 0) << other.err;
    EXPECT_EQ(other.out.find("controller"), std::string::npos) << other.out;
    EXPECT_EQ(lineCount(other.out), 2) << other.out;

    const Outcome info = run({"info", TINY_GAIN_PATH});  // the older positional form
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("Category     0 (unknown: the effect does not say)"), std::string::npos) << info.out;
}

// Bash completion, driven as bash-completion drives it: the words so far,
// the replies. Every option each command's --help lists is completed.
TEST_F(CommandLine, BashCompletesCommandsOptionsNamesAndFiles) {
    const char* const loader = "/usr/share/bash-completion/bash_completion";
    if (!std::filesystem::exists(loader)) GTEST_SKIP() << "bash-completion is not installed (scripts/deps.sh installs it)";
    if (std::string(TARNVALE_LAUNCHER) != "")
        GTEST_SKIP() << "the completion runs tarnvale-host by its path, which this processor does not execute";
    auto complete = [&](const std::vector<std::string>& words) {
        std::string script = std::string("source ") + loader + "; source " + clitest::quote(COMPLETION_PATH) +
                             "; COMP_WORDS=(" + clitest::quote(TARNVALE_HOST_PATH);
        for (const auto& w : words) script += " " + clitest::quote(w);
        script += "); COMP_CWORD=" + std::to_string(words.size()) +
                  "; COMP_LINE=\"${COMP_WORDS[*]}\"; COMP_POINT=${#COMP_LINE}; cd " + clitest::quote(dir) +
                  "; _tarnvale_host; printf '%s\\n' \"${COMPREPLY[@]}\"";
        writeText("complete.sh", script);
        const std::string command = "bash " + clitest::quote(dir + "/complete.sh") + " 2>&1";
        std::string replies;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) replies.append(buffer, n);
            pclose(pipe);
        }
        return replies;
    };
    writeInput("drums.wav", 2, 44100, 32, 0.5f);
    writeText("session.txt", "render\n");
    const struct {
        std::vector<std::string> words;
        const char* replies;
    } cases[] = {
        {{""}, "info\nrender\ndemo\nhelp\n"},
        {{"ren"}, "render\n"},
        {{"render", "--sa"}, "--sample-format\n"},
        {{"render", "--format", ""}, "wav\nflac\naiff\n"},
        {{"render", "--sample-format", "p"}, "pcm16\npcm24\n"},
        {{"render", "--in", "1"}, "1=\n10=\n11=\n12=\n13=\n14=\n15=\n16=\n"},
        {{"render", "--in", "2=dr"}, "2=drums.wav\n"},
        {{"render", "--set", "ch.16 s"}, "Ch.16\\ Send\\ 1=\nCh.16\\ Send\\ 2=\n"},
        {{"render", "--set", "\"Master V"}, "\"Master Volume=\n"},
        {{"render", "--plugin", TINY_GAIN_PATH, "--set", "g"}, "Gain=\n"},
        {{"render", "@ses"}, "@session.txt\n"},
        {{"info", "--pa"}, "--parameters\n"},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& w : c.words) shown += "[" + w + "] ";
        EXPECT_EQ(complete(c.words), c.replies) << shown;
    }
    for (const char* command : {"info", "render", "demo"}) {
        const std::string offered = complete({command, "--"});
        std::istringstream help(run({command, "--help"}).out);
        for (std::string word; help >> word;) {
            word = word.substr(0, word.find_first_of(" ,="));
            if (word.rfind("--", 0) == 0 && word.size() > 2 && std::isalpha(static_cast<unsigned char>(word[2]))) {
                EXPECT_NE(offered.find(word + "\n"), std::string::npos) << command << " " << word << " is not completed";
            }
        }
    }
}

// The manual page, as man shows it: no warnings, and a controller chart
// whose every row is the engine's table.
TEST_F(CommandLine, ManualPageCarriesTheControllerChart) {
    if (std::system("command -v man >/dev/null 2>&1") != 0) GTEST_SKIP() << "man is not installed";
    const std::string shown = dir + "/man.txt", warnings = dir + "/man.err";
    const std::string command = "MANWIDTH=100 man --warnings -E UTF-8 -l " + clitest::quote(MAN_PAGE_PATH) + " >" +
                                clitest::quote(shown) + " 2>" + clitest::quote(warnings);
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(slurp(warnings), "");
    std::istringstream page(slurp(shown));
    int rows = 0;
    for (std::string line; std::getline(page, line);) {
        std::istringstream cells(line);
        std::string strip;
        cells >> strip;
        const int s = strip == "Master" ? 0 : strip.rfind("Ch.", 0) == 0 && strip.size() == 5 ? std::stoi(strip.substr(3)) : -1;
        int controller[tarnvale::kNumKinds];
        if (s < 0 || !(cells >> controller[0] >> controller[1] >> controller[2] >> controller[3])) continue;
        for (int kind = 0; kind < tarnvale::kNumKinds; ++kind)
            EXPECT_EQ(controller[kind],
                      tarnvale::kParameters[static_cast<size_t>(tarnvale::paramIndex(s, static_cast<tarnvale::ParamKind>(kind)))]
                          .controller)
                << line;
        ++rows;
    }
    EXPECT_EQ(rows, tarnvale::kNumStrips) << slurp(shown);
    // Besides the chart, what a newcomer meets in a render: the progress
    // bar, and what --clean removes.
    std::string text;  // the page's words, one space between each
    std::istringstream words(slurp(shown));
    for (std::string word; words >> word;) text += word + " ";
    for (const char* part : {"PROGRESS", "progress bar", "drawn only when standard error is a terminal",
                             "Removes the outputs an earlier render left"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

// One of a thing is singular; the report's figures are rounded to what
// the measurement resolves; generated inputs say what they are.
TEST_F(CommandLine, CountsFiguresAndInputsReadAsAReaderExpects) {
    const std::string input = writeInput("a.wav", 2, 48000, 48000 * 3, 0.5f);
    miditest::Track track;
    track.event(0, {0xB0, 118, 64}).end();
    const std::string midi = writeBytes("one.mid", miditest::file(0, 960, {track}));
    const Outcome r = run({"render", "--plugin", TINY_GAIN_PATH, "--in", "1=" + input, "--out", dir + "/one", "--midi", midi});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("1 MIDI event played; the effect reported 0 automation changes\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("wrote 1 file to "), std::string::npos) << r.out;
    const Outcome moved = run({"render", "--in", "1=" + input, "--out", dir + "/moved", "--midi", midi, "--report",
                               dir + "/moved.json"});
    ASSERT_EQ(moved.code, 0) << moved.err;
    EXPECT_NE(moved.out.find("the effect reported 1 automation change\n"), std::string::npos) << moved.out;
    EXPECT_NE(moved.out.find("  Master Volume: 1 change, ending at"), std::string::npos) << moved.out;

    const auto j = report(dir + "/moved.json");
    auto decimals = [](double v, double perUnit) { return std::round(v * perUnit) / perUnit == v; };
    for (const auto& o : j["outputs"]) {
        for (const char* key : {"lufs", "lra"})
            EXPECT_TRUE(o[key].is_null() || decimals(o[key].get<double>(), 10)) << key << " " << o[key];
        for (const char* key : {"peak_dbfs", "rms_dbfs", "true_peak_dbtp"})
            EXPECT_TRUE(o[key].is_null() || decimals(o[key].get<double>(), 100)) << key << " " << o[key];
    }
    EXPECT_EQ(j["inputs"][0]["file"], input);
    EXPECT_FALSE(j["inputs"][0].contains("generated"));

    ASSERT_EQ(run({"demo", "--out", dir + "/demo"}).code, 0);
    const auto demo = report(dir + "/demo/report.json");
    ASSERT_EQ(demo["inputs"].size(), 16u);
    for (const auto& in : demo["inputs"]) {
        EXPECT_TRUE(in["file"].is_null()) << in;
        EXPECT_FALSE(in["generated"].get<std::string>().empty()) << in;
    }
    EXPECT_EQ(demo["inputs"][0]["generated"], "bass: sines at 55 and 110 Hz");
}

}  // namespace
