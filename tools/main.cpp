// tarnvale-host: a command-line VST 2.4 host for Tarnvale and other effects.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <iostream>
#include <string>

#include "info.h"

namespace {

// The tarnvale.so built beside this tool.
std::string defaultModule() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "tarnvale.so";
    std::string exe(path, static_cast<size_t>(n));
    const auto slash = exe.rfind('/');
    return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/tarnvale.so";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"tarnvale-host: load a VST 2.4 effect and show what a host sees"};
    app.require_subcommand(1);

    std::string infoModule = defaultModule();
    auto* info = app.add_subcommand("info", "identity, capabilities, pins and parameter panel of an effect");
    info->add_option("PLUGIN", infoModule, "effect module (default: the tarnvale.so beside this tool)");

    CLI11_PARSE(app, argc, argv);

    if (info->parsed()) return tools::printInfo(infoModule, std::cout, std::cerr);
    return 1;
}
