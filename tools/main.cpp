// tarnvale-host: a command-line VST 2.4 host for Tarnvale and other effects.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <iostream>
#include <new>
#include <string>

#include "command_line.h"
#include "demo.h"
#include "identity.h"
#include "info.h"
#include "plugin_search.h"
#include "render.h"

namespace {

const char* const kUsage =
    "usage: tarnvale-host render --in N=FILE ... --out DIR [--set NAME=VALUE ...] [OPTIONS]\n"
    "       tarnvale-host info [--parameters] [--plugin MODULE]\n"
    "       tarnvale-host demo [--out DIR]\n"
    "       tarnvale-host COMMAND @FILE      (arguments read from FILE, one per line)\n"
    "tarnvale-host --help lists the commands, tarnvale-host render --help the options of render.\n";

const char* const kExamples =
    "Examples:\n"
    "  tarnvale-host render --in 1=drums.wav --in 2=bass.flac --out mix/ --set \"Ch.02 Volume=-3dB\"\n"
    "  tarnvale-host render @session.txt       (the same arguments, one per line, kept in a file)\n"
    "  tarnvale-host info --parameters         (every parameter with its controller number)\n"
    "  tarnvale-host demo --out demo-out/\n";

// Words meant as an option that is called something else here.
struct Synonym {
    const char* typed;
    const char* meant;
};
const Synonym kSynonyms[] = {
    {"--gain", "levels and pans are set with --set, as in --set \"Master Volume=-3dB\" or --set \"Ch.01 Panpot=-0.5\""},
    {"--volume", "levels and pans are set with --set, as in --set \"Master Volume=-3dB\""},
    {"--level", "levels and pans are set with --set, as in --set \"Master Volume=-3dB\""},
    {"--pan", "levels and pans are set with --set, as in --set \"Ch.01 Panpot=-0.5\""},
    {"--output", "did you mean --out DIR?"},
    {"--outdir", "did you mean --out DIR?"},
    {"-o", "did you mean --out DIR?"},
    {"--input", "did you mean --in N=FILE?"},
    {"-i", "did you mean --in N=FILE?"},
    {"--samplerate", "did you mean --rate HZ?"},
    {"--sample-rate", "did you mean --rate HZ?"},
    {"--module", "did you mean --plugin MODULE?"},
};

// The parser's help, with the older positional forms of the module and the
// demo's folder left out of the usage line (they are hidden from the lists).
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string usage = CLI::Formatter::make_usage(app, name);
        const auto hidden = usage.find(" []");
        if (hidden != std::string::npos) usage.erase(hidden, 3);
        return usage;
    }
};

std::vector<std::string> optionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const auto& n : option->get_lnames()) names.push_back("--" + n);
        for (const auto& n : option->get_snames()) names.push_back("-" + n);
    }
    return names;
}

std::string commandOf(const CLI::App* sub) {
    return sub != nullptr ? "tarnvale-host " + sub->get_name() : std::string("tarnvale-host");
}

// A word in render's command line that belongs to an --in.
std::string renderWordMistake(const std::string& word) {
    const auto equals = word.find('=');
    if (equals != std::string::npos && equals > 0 && std::all_of(word.begin(), word.begin() + static_cast<long>(equals), ::isdigit))
        return "\"" + word + "\" stands alone: give each input its own --in, as in --in " + word;
    if (equals != std::string::npos && equals > 0)
        return "\"" + word + "\" stands alone: quote a setting whose name holds spaces, as in --set \"Ch.01 " + word + "\"";
    if (tools::looksLikeAudio(word)) return "\"" + word + "\" stands alone: give inputs as --in N=FILE, as in --in 1=" + word;
    return {};
}

// One line for an argument nothing took: what was wrong, what would be right.
std::string extraMessage(const std::string& word, const CLI::App& app, const CLI::App* sub) {
    const std::string help = commandOf(sub) + " --help";
    if (word.size() > 1 && word[0] == '-') {
        const std::string option = word.substr(0, word.find('='));
        std::string text = "unknown option " + option + (sub != nullptr ? " for " + sub->get_name() : "");
        for (const auto& s : kSynonyms)
            if (option == s.typed) return text + "; " + s.meant + " (" + help + " lists the options)";
        const std::string near = tools::nearestWord(option, optionNames(sub != nullptr ? *sub : app));
        if (!near.empty()) return text + "; did you mean " + near + "? (" + help + " lists the options)";
        if (sub == nullptr) return text + "; options follow the command, as in tarnvale-host render --in 1=a.wav --out mix/ (" + help + ")";
        return text + " (" + help + " lists the options)";
    }
    if (sub == nullptr) {
        std::vector<std::string> commands{"help", "version"};
        for (const CLI::App* c : app.get_subcommands([](const CLI::App*) { return true; })) commands.push_back(c->get_name());
        const std::string near = tools::nearestWord(word, commands);
        return "unknown command \"" + word + "\"" + (near.empty() ? "" : "; did you mean " + near + "?") +
               " The commands are info, render and demo (tarnvale-host --help)";
    }
    if (sub->get_name() == "render") {
        const std::string mistake = renderWordMistake(word);
        if (!mistake.empty()) return mistake;
    }
    return "unexpected argument \"" + word + "\" for " + sub->get_name() + " (" + help + ")";
}

// The parser's own complaints, said with what the option takes.
std::string parseErrorMessage(const CLI::ParseError& e, const CLI::App* sub) {
    const std::string what = e.what();
    const std::string help = commandOf(sub) + " --help";
    const auto colon = what.find(':');
    if (sub != nullptr && colon != std::string::npos && what.rfind("--", 0) == 0) {
        const std::string name = what.substr(0, colon);
        try {
            const CLI::Option* option = sub->get_option(name);
            if (option->get_type_name().empty())
                return name + " takes no value (" + help + ")";
            return name + " needs a value: " + name + " " + option->get_type_name() + ", " + option->get_description() +
                   " (" + help + ")";
        } catch (const CLI::OptionNotFound&) {
        }
    }
    return what + " (" + help + ")";
}

// The module for a subcommand: --plugin, or the older positional form, or
// else Tarnvale where it is installed. 0, or the exit code with a reason.
int chooseModule(std::string& flag, const std::string& positional, const char* command, std::string& error) {
    if (std::string(command) == "render" && !(error = renderWordMistake(positional)).empty()) return tools::kExitUsage;
    if (!flag.empty() && !positional.empty() && flag != positional) {
        error = std::string(command) + " is given two modules, " + flag + " and " + positional + "; give one, with --plugin";
        return tools::kExitUsage;
    }
    if (flag.empty()) flag = positional;
    if (tools::looksLikeAudio(flag)) {
        error = flag + " is an audio file, not an effect module";
        return tools::kExitUsage;
    }
    if (!flag.empty()) return 0;
    flag = tools::findTarnvale();
    if (flag.empty()) {
        error = "cannot find tarnvale.so beside tarnvale-host, in VST_PATH, ~/.vst, /usr/local/lib/vst or "
                "/usr/lib/vst; name the module to load with --plugin";
        return tools::kExitPlugin;
    }
    return 0;
}

int run(std::vector<std::string> args) {
    auto usage = [](const std::string& message, int code = tools::kExitUsage) {
        std::cerr << "tarnvale-host: " << message << '\n';
        return code;
    };
    if (args.empty()) {
        std::cerr << kUsage;
        return tools::kExitUsage;
    }
    std::string error;
    if (!tools::expandArgumentFiles(args, error)) return usage(error);
    // "help [COMMAND]" and "version" are what they say.
    if (!args.empty() && args[0] == "help") {
        args.erase(args.begin());
        args.emplace_back("--help");
    } else if (args.size() == 1 && args[0] == "version") {
        args[0] = "--version";
    }

    CLI::App app{"tarnvale-host: render audio through Tarnvale (or any VST 2.4 effect) from the command line"};
    app.name("tarnvale-host");
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->label("SUBCOMMAND", "COMMAND");
    formatter->label("Subcommands", "Commands");
    app.formatter(formatter);
    app.set_version_flag("-V,--version", std::string("tarnvale-host ") + tarnvale::identity::kVersion);
    app.allow_extras();
    const char* const kModuleHelp =
        "effect module (default: tarnvale.so beside this tool or in its installation's lib/vst, then in VST_PATH, "
        "~/.vst, /usr/local/lib/vst, /usr/lib/vst)";

    std::string infoModule, infoPositional;
    bool infoParameters = false;
    auto* info = app.add_subcommand("info", "identity, capabilities, pins and parameter panel of an effect");
    info->allow_extras();
    info->add_option("--plugin", infoModule, kModuleHelp)->type_name("MODULE");
    info->add_flag("--parameters", infoParameters, "only the parameters: one line each, with its MIDI controller");
    info->add_option("MODULE", infoPositional, "the module, as --plugin gives it (an older form)")->group("");

    tools::RenderOptions render;
    std::string renderPositional, blockText = std::to_string(render.blockSize), rateText, tailText = "0";
    auto* renderCmd = app.add_subcommand("render", "render audio files through the effect");
    renderCmd->allow_extras();
    renderCmd->add_option("--in", render.inputs, "feed a mono or stereo file to channel N (1..16); once per channel")
        ->type_name("N=FILE")
        ->allow_extra_args(false);
    renderCmd->add_option("--out", render.outDir, "folder for the rendered files")->type_name("DIR");
    renderCmd->add_option("--plugin", render.pluginPath, kModuleHelp)->type_name("MODULE");
    renderCmd->add_option("--block", blockText, "frames per process call, 1 to 16384")->type_name("FRAMES")->capture_default_str();
    renderCmd->add_option("--rate", rateText,
                          "render sample rate in Hz, 1000 to 768000 (default: the first input's); inputs at other "
                          "rates are converted")
        ->type_name("HZ");
    renderCmd->add_option("--format", render.format, "wav, flac or aiff (default: the first input's)")->type_name("FORMAT");
    renderCmd->add_option("--sample-format", render.sampleFormat,
                          "pcm16, pcm24 or float (default: the first input's); float never clips")
        ->type_name("SAMPLES");
    renderCmd->add_option("--tail", tailText, "seconds rendered after the longest input ends, 0 to 3600")
        ->type_name("SECONDS")
        ->capture_default_str();
    renderCmd->add_flag("--all", render.allOutputs, "write every channel's output, also those without input");
    renderCmd->add_flag("--clean", render.clean,
                        "remove outputs an earlier render left in DIR that this one does not write (files named as "
                        "this effect's outputs, in this render's format; no other file is touched); without it the "
                        "summary names them");
    renderCmd->add_option("--outputs", render.outputs,
                          "outputs to render, comma-separated: main, sends, channels or an output's name "
                          "(default: main,sends,channels)")
        ->type_name("LIST");
    renderCmd->add_option("--jobs", render.jobs, "worker threads that measure and write (default: one per processor)")
        ->type_name("N");
    renderCmd->add_option("--set", render.settings,
                          "set a parameter by name (any case) or index. A level in dB or percent "
                          "(\"Ch.03 Volume=-6dB\", \"Master Volume=80%\", \"Ch.05 Send 1=-inf dB\"), a pan from -1 "
                          "(left) to 1 (right) (\"Ch.02 Panpot=-0.4\"), any parameter's stored 0..1 value with raw "
                          "(\"Ch.02 Panpot=0.3 raw\"); a bare number for a level is refused")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
    renderCmd->add_option("--midi", render.midiFile, "standard MIDI file played into the effect")->type_name("FILE.mid");
    renderCmd->add_option("--plot", render.plotPath, "draw every output's level over time")->type_name("FILE.svg");
    renderCmd->add_option("--report", render.reportPath,
                          "write the render's settings, inputs and levels as JSON (\"-\": to standard output, "
                          "the other messages then going to standard error)")
        ->type_name("FILE.json");
    renderCmd->add_option("MODULE", renderPositional, "the module, as --plugin gives it (an older form)")->group("");
    renderCmd->footer(
        "While it renders (more than a second of audio), a progress bar on standard error shows how far it is, the "
        "time taken and the time left; it is drawn only when standard error is a terminal, never into a pipe or a "
        "file.\n"
        "Arguments may also come from a file: tarnvale-host render @session.txt (one per line).");

    std::string demoDir = "demo-out", demoPositional, demoModule;
    auto* demo = app.add_subcommand("demo", "render sixteen built-in stems through Tarnvale");
    demo->allow_extras();
    demo->add_option("--out", demoDir, "output folder")->type_name("DIR")->capture_default_str();
    demo->add_option("--plugin", demoModule, kModuleHelp)->type_name("MODULE");
    demo->add_option("DIR", demoPositional, "the output folder, as --out gives it")->group("");
    app.footer(kExamples);

    std::reverse(args.begin(), args.end());  // the parser takes them last first
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return 0;
    } catch (const CLI::ParseError& e) {
        const auto chosen = app.get_subcommands();
        return usage(parseErrorMessage(e, chosen.empty() ? nullptr : chosen.front()));
    }

    const auto chosen = app.get_subcommands();
    const CLI::App* sub = chosen.empty() ? nullptr : chosen.front();
    if (!app.remaining().empty()) return usage(extraMessage(app.remaining().front(), app, nullptr));
    if (sub == nullptr) {
        std::cerr << kUsage;
        return tools::kExitUsage;
    }
    if (!sub->remaining().empty()) return usage(extraMessage(sub->remaining().front(), app, sub));

    if (sub == info) {
        if (const int code = chooseModule(infoModule, infoPositional, "info", error)) return usage(error, code);
        return infoParameters ? tools::printParameterList(infoModule, std::cout, std::cerr)
                              : tools::printInfo(infoModule, std::cout, std::cerr);
    }
    if (sub == demo) {
        if (!demoPositional.empty() && demo->count("--out") > 0 && demoPositional != demoDir)
            return usage("demo is given two folders, " + demoDir + " and " + demoPositional + "; give one, with --out");
        if (!demoPositional.empty()) demoDir = demoPositional;
        if (const int code = chooseModule(demoModule, "", "demo", error)) return usage(error, code);
        return tools::runDemo(demoModule, demoDir, std::cout, std::cerr);
    }

    if (const int code = chooseModule(render.pluginPath, renderPositional, "render", error)) return usage(error, code);
    if (!tools::parseWholeNumber("--block", blockText, "a whole number of frames from 1 to 16384", "--block 512",
                                 render.blockSize, error) ||
        (!rateText.empty() && !tools::parseWholeNumber("--rate", rateText, "the rate in Hz as a whole number from 1000 "
                                                       "to 768000", "--rate 48000", render.sampleRate, error)) ||
        !tools::parseSeconds("--tail", tailText, render.tailSeconds, error))
        return usage(error);
    if (render.inputs.empty())
        return usage("render needs at least one input: --in N=FILE feeds channel N, as in --in 1=drums.wav");
    if (render.outDir.empty()) return usage("render needs --out DIR, the folder for the rendered files");
    for (const auto& input : render.inputs) {
        const auto equals = input.find('=');
        if (equals == std::string::npos || equals == 0) continue;  // render says what N=FILE needs
        const std::string channel = input.substr(0, equals);
        if (!std::all_of(channel.begin(), channel.end(), ::isdigit)) continue;
        if (!tools::checkReadable("channel " + channel + "'s input", input.substr(equals + 1), error))
            return usage(error);
    }
    if (!render.midiFile.empty() && !tools::checkReadable("the MIDI file", render.midiFile, error)) return usage(error);
    return tools::runRender(render, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        std::cerr << "tarnvale-host: not enough memory\n";
        return tools::kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "tarnvale-host: " << e.what() << '\n';
        return tools::kExitUsage;
    } catch (...) {
        std::cerr << "tarnvale-host: an unexpected failure\n";
        return tools::kExitUsage;
    }
}
