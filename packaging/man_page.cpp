// Writes tarnvale-host's manual page: the page as configured, with the MIDI
// controller chart put in place of its marker line, as a table drawn from
// the engine's parameter table (so the chart cannot drift from the plug-in).
//   tarnvale-manpage PAGE.in PAGE
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "engine/tables.h"

namespace {

const char* const kMarker = ".\\\" CONTROLLER CHART: the build writes the table here";

// "Ch.01 Send 1" -> "Ch.01" and "Send 1".
std::string stripName(const char* name) {
    const std::string s = name;
    return s.substr(0, s.find(' '));
}
std::string kindName(const char* name) {
    const std::string s = name;
    return s.substr(s.find(' ') + 1);
}

// A table for tbl(1): one row per strip, one column per kind.
void writeChart(std::ostream& out) {
    using namespace tarnvale;
    out << ".TS\ntab(|);\nl r r r r.\n";
    out << "Strip";
    for (int kind = 0; kind < kNumKinds; ++kind) out << '|' << kindName(kParameters[static_cast<size_t>(kind)].name);
    out << "\n_\n";
    for (int strip = 0; strip < kNumStrips; ++strip) {
        out << stripName(kParameters[static_cast<size_t>(paramIndex(strip, kPan))].name);
        for (int kind = 0; kind < kNumKinds; ++kind)
            out << '|' << static_cast<int>(kParameters[static_cast<size_t>(paramIndex(strip, static_cast<ParamKind>(kind)))].controller);
        out << '\n';
    }
    out << ".TE\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tarnvale-manpage PAGE.in PAGE\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::ofstream out(argv[2]);
    bool placed = false;
    for (std::string line; std::getline(in, line);) {
        if (line == kMarker) {
            writeChart(out);
            placed = true;
        } else {
            out << line << '\n';
        }
    }
    if (!in.eof() || !placed || !out) {
        std::cerr << "tarnvale-manpage: " << (placed ? "cannot write " + std::string(argv[2]) : "no chart marker in " + std::string(argv[1]))
                  << '\n';
        return 1;
    }
    return 0;
}
