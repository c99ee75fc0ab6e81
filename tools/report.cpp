#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>

namespace tools {

std::string dbText(double db) {
    if (std::isinf(db) || std::isnan(db)) return db > 0 ? "inf" : "-inf";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", db);
    return text;
}

void printLevelTable(const std::vector<OutputReport>& outputs, std::ostream& out) {
    out << std::left << std::setw(8) << "output" << std::right << std::setw(11) << "peak dBFS" << std::setw(10)
        << "RMS dBFS" << std::setw(8) << "LUFS" << std::setw(8) << "LRA LU" << std::setw(11) << "true peak"
        << std::setw(9) << "clipped" << std::setw(11) << "non-finite" << '\n';
    for (const auto& o : outputs) {
        const Measured& l = o.levels;
        out << std::left << std::setw(8) << o.name << std::right << std::setw(11) << dbText(l.peakDb) << std::setw(10)
            << dbText(l.rmsDb) << std::setw(8) << dbText(l.lufs) << std::setw(8) << dbText(l.lra) << std::setw(11)
            << dbText(l.truePeakDb) << std::setw(9) << l.clipped << std::setw(11) << l.nonFinite << '\n';
    }
    out << "(true peak in dBTP; LUFS is the integrated loudness)\n";
}

}  // namespace tools
