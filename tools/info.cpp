#include "info.h"

#include <cstdio>
#include <cstring>
#include <iomanip>

#include "exit_codes.h"
#include "host/vst_host.h"
#include "parameters.h"

namespace tools {

namespace {

// Capabilities a host commonly asks an effect about.
const char* const kCommonCapabilities[] = {
    "sendVstEvents",      "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent", "receiveVstTimeInfo",
    "offline",            "midiProgramNames", "bypass",           "1in1out",             "2in2out",
};

struct FlagName {
    VstInt32 bit;
    const char* name;
};
const FlagName kFlagNames[] = {
    {effFlagsHasEditor, "editor"},         {effFlagsHasClip, "clip"},
    {effFlagsHasVu, "vu"},                 {effFlagsCanMono, "mono"},
    {effFlagsCanReplacing, "replacing"},   {effFlagsProgramChunks, "chunks"},
    {effFlagsIsSynth, "synth"},            {effFlagsNoSoundInStop, "no-tail"},
    {effFlagsExtIsAsync, "async"},         {effFlagsExtHasBuffer, "external-buffer"},
    {effFlagsCanDoubleReplacing, "double-replacing"},
};

std::string fourChars(VstInt32 id) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<char>((static_cast<uint32_t>(id) >> shift) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

// What the category a module answers means.
std::string categoryText(VstIntPtr category) {
    switch (category) {
        case kPlugCategUnknown: return "0 (unknown: the effect does not say)";
        case kPlugCategEffect: return "1 (effect)";
        case kPlugCategSynth: return "2 (instrument)";
        default: return std::to_string(category) + " (a category this host does not know)";
    }
}

std::string flagText(VstInt32 flags) {
    std::string s;
    for (const auto& f : kFlagNames)
        if ((flags & f.bit) != 0) s += (s.empty() ? "" : ", ") + std::string(f.name);
    return s.empty() ? "none" : s;
}

void printPins(vsthost::Plugin& plugin, bool input, VstInt32 count, std::ostream& out) {
    for (VstInt32 i = 0; i < count; ++i) {
        VstPinProperties pin{};
        const bool known = input ? plugin.inputProperties(i, pin) : plugin.outputProperties(i, pin);
        pin.label[sizeof pin.label - 1] = '\0';
        out << "  " << (input ? "in  " : "out ") << std::setw(2) << i << "  ";
        if (known)
            out << std::left << std::setw(16) << pin.label << std::right
                << ((pin.flags & kVstPinIsStereo) != 0 ? " stereo" : " mono")
                << ((pin.flags & kVstPinIsActive) != 0 ? "" : " (inactive)") << '\n';
        else
            out << "(no description)\n";
    }
}

// The loaded effect, switched on; null after one line on err.
struct Loaded {
    std::unique_ptr<vsthost::Module> module;
    vsthost::Host host;
    std::unique_ptr<vsthost::Plugin> plugin;
};
bool load(const std::string& modulePath, Loaded& loaded, std::ostream& err) {
    std::string error;
    loaded.module = vsthost::Module::load(modulePath, error);
    if (loaded.module) loaded.plugin = vsthost::Plugin::create(*loaded.module, loaded.host, error);
    if (!loaded.plugin) {
        err << "tarnvale-host: " << error << '\n';
        return false;
    }
    loaded.plugin->start();
    return true;
}

}  // namespace

int printParameterList(const std::string& modulePath, std::ostream& out, std::ostream& err) {
    Loaded loaded;
    if (!load(modulePath, loaded, err)) return kExitPlugin;
    vsthost::Plugin& plugin = *loaded.plugin;
    const bool controllers = tarnvaleParameter(plugin, 0) != nullptr;
    out << "index  " << std::left << std::setw(16) << "name" << std::right << std::setw(10) << "value"
        << (controllers ? "  controller" : "") << '\n';
    for (VstInt32 i = 0; i < plugin.effect()->numParams; ++i) {
        std::string value = plugin.parameterDisplay(i);
        const std::string unit = plugin.parameterLabel(i);
        if (!unit.empty()) value += " " + unit;
        out << std::setw(5) << i << "  " << std::left << std::setw(16) << plugin.parameterName(i) << std::right
            << std::setw(10) << value;
        if (const auto* t = tarnvaleParameter(plugin, i)) out << "  " << std::setw(10) << static_cast<int>(t->controller);
        out << '\n';
    }
    plugin.close();
    return 0;
}

int printInfo(const std::string& modulePath, std::ostream& out, std::ostream& err) {
    Loaded loaded;
    if (!load(modulePath, loaded, err)) return kExitPlugin;
    vsthost::Plugin* plugin = loaded.plugin.get();
    AEffect* e = plugin->effect();

    out << "Module       " << modulePath << '\n'
        << "Effect       " << plugin->effectName() << '\n'
        << "Product      " << plugin->productString() << '\n'
        << "Vendor       " << plugin->vendorString() << '\n'
        << "Version      " << plugin->dispatch(effGetVendorVersion) << " (effect record " << e->version
        << "), VST " << plugin->dispatch(effGetVstVersion) << '\n'
        << "Unique ID    '" << fourChars(e->uniqueID) << "' (" << e->uniqueID << ")\n"
        << "Category     " << categoryText(plugin->dispatch(effGetPlugCategory)) << '\n'
        << "Flags        0x" << std::hex << e->flags << std::dec << " (" << flagText(e->flags) << ")\n"
        << "Programs     " << e->numPrograms << ", parameters " << e->numParams << ", inputs " << e->numInputs
        << ", outputs " << e->numOutputs << ", latency " << e->initialDelay << '\n';

    out << "\nCapabilities\n";
    for (const char* capability : kCommonCapabilities)
        out << "  " << std::left << std::setw(22) << capability << std::right << plugin->canDo(capability) << '\n';

    out << "\nPins\n";
    printPins(*plugin, true, e->numInputs, out);
    printPins(*plugin, false, e->numOutputs, out);

    out << "\nParameters\n";
    for (VstInt32 i = 0; i < e->numParams; ++i) {
        out << "  " << std::setw(3) << i << "  " << std::left << std::setw(16) << plugin->parameterName(i)
            << std::right << std::setw(9) << plugin->parameterDisplay(i) << ' ' << plugin->parameterLabel(i) << '\n';
    }
    plugin->close();
    return 0;
}

}  // namespace tools
