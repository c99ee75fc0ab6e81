// tarnvale-host as a newcomer meets it, through its command line: values
// as the panel shows them, the messages for each mistake, argument files.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audio_io.h"
#include "cli_fixture.h"

namespace {

using clitest::lineCount;
using clitest::Outcome;
using clitest::slurp;

class CommandLine : public clitest::Cli {
protected:
    nlohmann::json report(const std::string& path) { return nlohmann::json::parse(slurp(path)); }
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

}  // namespace
