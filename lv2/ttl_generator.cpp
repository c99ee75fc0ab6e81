// tarnvale-ttl: writes the LV2 bundle's description (manifest.ttl and
// tarnvale.ttl) from the engine's tables, so ports, names, ranges, defaults
// and units cannot drift from the plug-in. Run by the build.
//
//   tarnvale-ttl BUNDLE_DIR VERSION
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "ports.h"

namespace {

using namespace tarnvale;
using namespace tarnvale::lv2;

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

const char kPrefixes[] =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"

    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

// Versions "A.B.C" as LV2 counts them: minor B, micro C.
void versionParts(const std::string& version, int& minor, int& micro) {
    int major = 0;
    minor = 0;
    micro = 0;
    std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &micro);
}

// A stereo group's symbol and name: a pair of pins without their side.
std::string groupSymbol(bool input, int pair) {
    char symbol[64];
    pairSymbol(input ? kInputPins[2 * pair] : kOutputPins[2 * pair], symbol, sizeof symbol);
    return symbol;
}
std::string pairName(int outputPair) {
    const std::string label = kOutputPins[2 * outputPair].label;  // "Send 1 L"
    return label.substr(0, label.size() - 2);
}
std::string groupName(bool input, int pair) {
    // Inputs and direct outputs carry their channel's name; the buses their own.
    if (input) return pairName(pairOf(directOutput(pair, kLeft))) + " In";
    return pair < kNumBuses ? pairName(pair) : pairName(pair) + " Direct";
}
std::string groupUri(bool input, int pair) { return std::string(kPluginUri) + "#" + groupSymbol(input, pair) + (input ? "" : "_out"); }

void audioPort(std::ostream& out, uint32_t index, bool input, int pin) {
    const PinInfo& info = input ? kInputPins[pin] : kOutputPins[pin];
    out << "\t\ta lv2:AudioPort , lv2:" << (input ? "InputPort" : "OutputPort") << " ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol " << quoted(info.symbol) << " ;\n"
        << "\t\tlv2:name " << quoted(info.label) << " ;\n"
        << "\t\tpg:group <" << groupUri(input, pin / 2) << "> ;\n"
        << "\t\tlv2:designation " << (pin % 2 == kLeft ? "pg:left" : "pg:right") << "\n";
}

// A control input or a parameter's value output: range, default and unit
// from the tables.
void controlPort(std::ostream& out, uint32_t index, bool input, int control) {
    char symbol[64], name[64];
    controlSymbol(control, symbol, sizeof symbol);
    controlName(control, name, sizeof name);
    const PortRange range = controlRange(control);
    out << "\t\ta lv2:ControlPort , lv2:" << (input ? "InputPort" : "OutputPort") << " ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol " << quoted(std::string(symbol) + (input ? "" : kValueSymbolSuffix)) << " ;\n"
        << "\t\tlv2:name " << quoted(std::string(name) + (input ? "" : kValueNameSuffix)) << " ;\n"
        << "\t\tlv2:default " << number(range.defaultValue) << " ;\n"
        << "\t\tlv2:minimum " << number(range.minimum) << " ;\n"
        << "\t\tlv2:maximum " << number(range.maximum);
    if (control < kNumParams && std::string(kParameters[control].panel->unit) == "%") out << " ;\n\t\tunits:unit units:pc";
    if (control == kSmoothingControl) out << " ;\n\t\tunits:unit units:ms";
    if (isSwitch(control)) out << " ;\n\t\tlv2:portProperty lv2:toggled , lv2:integer";
    out << "\n";
}

// A pair's peak meter in dBFS.
void meterPort(std::ostream& out, uint32_t index, int pair) {
    char symbol[64];
    pairSymbol(kOutputPins[2 * pair], symbol, sizeof symbol);
    out << "\t\ta lv2:ControlPort , lv2:OutputPort ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol " << quoted(std::string(symbol) + kMeterSymbolSuffix) << " ;\n"
        << "\t\tlv2:name " << quoted(pairName(pair) + kMeterNameSuffix) << " ;\n"
        << "\t\tlv2:default " << number(kMeterRange.defaultValue) << " ;\n"
        << "\t\tlv2:minimum " << number(kMeterRange.minimum) << " ;\n"
        << "\t\tlv2:maximum " << number(kMeterRange.maximum) << " ;\n"
        << "\t\tunits:unit units:db ;\n"
        << "\t\tlv2:portProperty lv2:connectionOptional\n";
}

void group(std::ostream& out, bool input, int pair) {
    out << "<" << groupUri(input, pair) << ">\n"
        << "\ta pg:" << (input ? "InputGroup" : "OutputGroup") << " , pg:StereoGroup ;\n"
        << "\tlv2:symbol " << quoted(groupSymbol(input, pair) + (input ? "" : "_out")) << " ;\n"
        << "\tlv2:name " << quoted(groupName(input, pair)) << " .\n\n";
}

std::string pluginDescription(const std::string& version) {
    int minor, micro;
    versionParts(version, minor, micro);
    std::ostringstream out;
    out << kPrefixes;
    out << "<" << kProjectUri << ">\n"
        << "\ta doap:Project ;\n"
        << "\tdoap:name " << quoted(identity::kName) << " ;\n"
        << "\tdoap:homepage <" << kProjectUri << "> ;\n"
        << "\tdoap:license <" << identity::kLicenseUri << "> ;\n"
        << "\tdoap:maintainer [\n\t\tfoaf:name " << quoted(identity::kVendor) << " ;\n\t\tfoaf:homepage <"
        << kProjectUri << ">\n\t] .\n\n";
    for (int pair = 0; pair < kNumInputs / 2; ++pair) group(out, true, pair);
    for (int pair = 0; pair < kNumPairs; ++pair) group(out, false, pair);
    out << "<" << kPluginUri << ">\n"
        << "\ta lv2:Plugin , lv2:MixerPlugin ;\n"
        << "\tlv2:project <" << kProjectUri << "> ;\n"
        << "\tdoap:name " << quoted(identity::kName) << " ;\n"
        << "\tdoap:license <" << identity::kLicenseUri << "> ;\n"
        << "\trdfs:comment \"A sixteen-channel stereo line mixer: a main mix, two send buses and every channel's "
           "own post-fader pair, with a pan, a volume, two sends, mute, solo and polarity per channel and a peak "
           "meter per output pair, driven by the host or by MIDI control changes at the exact frame, every "
           "change smoothed.\" ;\n"
        << "\tlv2:minorVersion " << minor << " ;\n"
        << "\tlv2:microVersion " << micro << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "\tlv2:extensionData state:interface ;\n"
        << "\tpg:mainOutput <" << groupUri(false, pairOf(busOutput(kMainBus, kLeft))) << "> ;\n"
        << "\tlv2:port";
    uint32_t index = 0;
    auto separator = [&]() { out << (index == 0 ? " [\n" : " , [\n"); };
    for (int k = 0; k < kNumInputs; ++k, ++index) {
        separator();
        audioPort(out, index, true, k);
        out << "\t]";
    }
    for (int k = 0; k < kNumOutputs; ++k, ++index) {
        separator();
        audioPort(out, index, false, k);
        out << "\t]";
    }
    for (int p = 0; p < kNumParams; ++p, ++index) {
        separator();
        controlPort(out, index, true, p);
        out << "\t]";
    }
    separator();
    out << "\t\ta atom:AtomPort , lv2:InputPort ;\n"
        << "\t\tatom:bufferType atom:Sequence ;\n"
        << "\t\tatom:supports midi:MidiEvent ;\n"
        << "\t\tlv2:designation lv2:control ;\n"
        << "\t\tlv2:portProperty lv2:connectionOptional ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol " << quoted(kMidiSymbol) << " ;\n"
        << "\t\tlv2:name " << quoted(kMidiName) << "\n\t]";
    ++index;
    for (int p = 0; p < kNumParams; ++p, ++index) {
        separator();
        controlPort(out, index, false, p);
        out << "\t]";
    }
    for (int c = kNumParams; c < kNumControls; ++c, ++index) {
        separator();
        controlPort(out, index, true, c);
        out << "\t]";
    }
    for (int pair = 0; pair < kNumPairs; ++pair, ++index) {
        separator();
        meterPort(out, index, pair);
        out << "\t]";
    }
    out << " .\n";
    if (index != kNumPorts) {
        std::fprintf(stderr, "tarnvale-ttl: wrote %u ports, the face has %u\n", index, kNumPorts);
        return "";
    }
    return out.str();
}

std::string manifest() {
    std::ostringstream out;
    out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
        << "<" << kPluginUri << ">\n"
        << "\ta lv2:Plugin ;\n"
        << "\tlv2:binary <" << kBinary << "> ;\n"
        << "\trdfs:seeAlso <tarnvale.ttl> .\n";
    return out.str();
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "tarnvale-ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarnvale-ttl BUNDLE_DIR VERSION\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string description = pluginDescription(argv[2]);
    if (description.empty()) return 1;
    return write(dir + "/manifest.ttl", manifest()) && write(dir + "/tarnvale.ttl", description) ? 0 : 1;
}
