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
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

// Versions "A.B.C" as LV2 counts them: minor B, micro C.
void versionParts(const std::string& version, int& minor, int& micro) {
    int major = 0;
    minor = 0;
    micro = 0;
    std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &micro);
}

void audioPort(std::ostream& out, uint32_t index, bool input, const PinInfo& pin) {
    out << "\t\ta lv2:AudioPort , lv2:" << (input ? "InputPort" : "OutputPort") << " ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol " << quoted(pin.symbol) << " ;\n"
        << "\t\tlv2:name " << quoted(pin.label) << "\n";
}

// A parameter as the panel shows it: range, default and unit from the table.
void controlPort(std::ostream& out, uint32_t index, bool input, int parameter) {
    const ParameterInfo& p = kParameters[parameter];
    const std::string symbol = std::string(p.symbol) + (input ? "" : kValueSymbolSuffix);
    const std::string name = std::string(p.name) + (input ? "" : kValueNameSuffix);
    out << "\t\ta lv2:ControlPort , lv2:" << (input ? "InputPort" : "OutputPort") << " ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol " << quoted(symbol) << " ;\n"
        << "\t\tlv2:name " << quoted(name) << " ;\n"
        << "\t\tlv2:default " << number(panelValue(parameter, p.defaultValue)) << " ;\n"
        << "\t\tlv2:minimum " << number(panelValue(parameter, 0.0)) << " ;\n"
        << "\t\tlv2:maximum " << number(panelValue(parameter, 1.0));
    if (std::string(p.panel->unit) == "%") out << " ;\n\t\tunits:unit units:pc";
    out << "\n";
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
    out << "<" << kPluginUri << ">\n"
        << "\ta lv2:Plugin , lv2:MixerPlugin ;\n"
        << "\tlv2:project <" << kProjectUri << "> ;\n"
        << "\tdoap:name " << quoted(identity::kName) << " ;\n"
        << "\tdoap:license <" << identity::kLicenseUri << "> ;\n"
        << "\trdfs:comment \"A sixteen-channel stereo line mixer: a main mix, two send buses and every channel's "
           "own post-fader pair, with a pan, a volume and two sends per channel, driven by the host or by MIDI "
           "control changes at the exact frame.\" ;\n"
        << "\tlv2:minorVersion " << minor << " ;\n"
        << "\tlv2:microVersion " << micro << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "\tlv2:port";
    uint32_t index = 0;
    auto separator = [&]() { out << (index == 0 ? " [\n" : " , [\n"); };
    for (int k = 0; k < kNumInputs; ++k, ++index) {
        separator();
        audioPort(out, index, true, kInputPins[k]);
        out << "\t]";
    }
    for (int k = 0; k < kNumOutputs; ++k, ++index) {
        separator();
        audioPort(out, index, false, kOutputPins[k]);
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
    out << " .\n";
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
    return write(dir + "/manifest.ttl", manifest()) && write(dir + "/tarnvale.ttl", pluginDescription(argv[2])) ? 0 : 1;
}
