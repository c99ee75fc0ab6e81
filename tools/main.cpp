// tarnvale-host: a command-line VST 2.4 host for Tarnvale and other effects.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <iostream>
#include <new>
#include <string>

#include "demo.h"
#include "info.h"
#include "plugin_search.h"
#include "render.h"
#include "identity.h"

namespace {

int run(int argc, char** argv) {
    CLI::App app{"tarnvale-host: render audio through Tarnvale (or any VST 2.4 effect) from the command line"};
    app.set_version_flag("--version", std::string("tarnvale-host ") + tarnvale::identity::kVersion);
    app.require_subcommand(1);
    const char* const kModuleHelp =
        "effect module (default: tarnvale.so beside this tool or in its installation's lib/vst, then in VST_PATH, "
        "~/.vst, /usr/local/lib/vst, /usr/lib/vst)";

    std::string infoModule;
    auto* info = app.add_subcommand("info", "identity, capabilities, pins and parameter panel of an effect");
    info->add_option("PLUGIN", infoModule, kModuleHelp);

    tools::RenderOptions render;
    auto* renderCmd = app.add_subcommand("render", "render audio files through the effect");
    renderCmd->add_option("PLUGIN", render.pluginPath, kModuleHelp);
    renderCmd->add_option("--in", render.inputs, "N=FILE: feed a mono or stereo file to channel N (1..16)")
        ->required()
        ->type_name("N=FILE");
    renderCmd->add_option("--out", render.outDir, "folder for the rendered files")->required()->type_name("DIR");
    renderCmd->add_option("--block", render.blockSize, "frames per process call, 1 to 16384")->capture_default_str();
    renderCmd->add_option("--rate", render.sampleRate,
                          "render sample rate (default: the first input's); inputs at other rates are converted");
    renderCmd->add_option("--format", render.format, "wav, flac or aiff (default: the first input's)");
    renderCmd->add_option("--sample-format", render.sampleFormat,
                          "pcm16, pcm24 or float (default: the first input's); float never clips");
    renderCmd->add_option("--tail", render.tailSeconds, "seconds rendered after the longest input ends, 0 to 3600");
    renderCmd->add_flag("--all", render.allOutputs, "write every channel's output, also those without input");
    renderCmd->add_option("--set", render.settings,
                          "NAME=VALUE: set a parameter by name (any case) or index. A level in dB or percent "
                          "(\"Ch.03 Volume=-6dB\", \"Master Volume=80%\", \"Ch.05 Send 1=-inf dB\"), a pan from -1 "
                          "(left) to 1 (right) (\"Ch.02 Panpot=-0.4\"), any parameter's stored 0..1 value with raw "
                          "(\"Ch.02 Panpot=0.3 raw\"); a bare number for a level is refused")
        ->type_name("NAME=VALUE");
    renderCmd->add_option("--midi", render.midiFile, "standard MIDI file played into the effect")->type_name("FILE.mid");
    renderCmd->add_option("--plot", render.plotPath, "draw every output's level over time")->type_name("FILE.svg");
    renderCmd->add_option("--report", render.reportPath, "write the render's settings, inputs and levels as JSON")
        ->type_name("FILE.json");

    std::string demoDir = "demo-out";
    std::string demoModule;
    auto* demo = app.add_subcommand("demo", "render sixteen built-in stems through Tarnvale");
    demo->add_option("DIR", demoDir, "output folder")->capture_default_str();
    demo->add_option("--plugin", demoModule, kModuleHelp);

    try {
        app.parse(argc, argv);
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
        std::cerr << "tarnvale-host: " << e.what() << '\n';
        return tools::kExitUsage;
    }

    // Without a module named, Tarnvale is looked for where it is installed.
    for (std::string* module : {&infoModule, &render.pluginPath, &demoModule}) {
        if (!module->empty()) continue;
        *module = tools::findTarnvale();
        if (module->empty() && (info->parsed() || renderCmd->parsed() || demo->parsed())) {
            std::cerr << "tarnvale-host: cannot find tarnvale.so beside tarnvale-host, in VST_PATH, ~/.vst, "
                         "/usr/local/lib/vst or /usr/lib/vst; name the module to load\n";
            return tools::kExitPlugin;
        }
    }
    if (info->parsed()) return tools::printInfo(infoModule, std::cout, std::cerr);
    if (renderCmd->parsed()) return tools::runRender(render, std::cout, std::cerr);
    if (demo->parsed()) return tools::runDemo(demoModule, demoDir, std::cout, std::cerr);
    return tools::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "tarnvale-host: not enough memory\n";
        return tools::kExitUsage;
    }
}
