#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <limits>
#include <set>
#include <sstream>

namespace tools {

namespace {

double toDb(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

// The plot's geometry.
constexpr int kLabelWidth = 110;
constexpr int kPlotWidth = 900;
constexpr int kLaneHeight = 78;
constexpr int kLaneGap = 14;
constexpr int kTop = 46;
constexpr double kFloorDb = -60.0;
const char* const kSideColour[2] = {"#1f6fb2", "#d9822b"};
const char* const kMidiColour = "#c0392b";

std::string timeText(double seconds) {
    char text[32];
    if (seconds >= 120.0)
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    else
        std::snprintf(text, sizeof text, "%g s", std::round(seconds * 100.0) / 100.0);
    return text;
}

std::string escapeXml(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    return out;
}

}  // namespace

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

std::string levelPlotSvg(const std::vector<OutputReport>& outputs, int sampleRate, int64_t frames,
                         const std::vector<int64_t>& midiFrames) {
    // The scale reaches above 0 dBFS only when an output does (float files).
    double topDb = 0.0;
    for (const auto& o : outputs) topDb = std::max(topDb, std::ceil(o.levels.peakDb / 6.0) * 6.0);
    topDb = std::min(topDb, 24.0);
    const int lanes = static_cast<int>(outputs.size());
    const int plotBottom = kTop + lanes * (kLaneHeight + kLaneGap);
    const int height = plotBottom + 36;
    const int width = kLabelWidth + kPlotWidth + 24;
    const double seconds = sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
    auto columnX = [&](double column) { return kLabelWidth + column * kPlotWidth / kPlotColumns; };

    std::ostringstream svg;
    svg << std::fixed << std::setprecision(1);
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<title>Tarnvale render: peak level of each output over " << timeText(seconds) << "</title>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>\n";
    // Legend.
    svg << "<text x=\"" << kLabelWidth << "\" y=\"18\">peak level, dBFS:</text>\n";
    for (int side = 0; side < 2; ++side) {
        const int x = kLabelWidth + 110 + side * 70;
        svg << "<line x1=\"" << x << "\" y1=\"14\" x2=\"" << x + 18 << "\" y2=\"14\" stroke=\"" << kSideColour[side]
            << "\" stroke-width=\"2\"/><text x=\"" << x + 22 << "\" y=\"18\">" << (side == 0 ? "left" : "right")
            << "</text>\n";
    }
    svg << "<line x1=\"" << kLabelWidth + 260 << "\" y1=\"8\" x2=\"" << kLabelWidth + 260 << "\" y2=\"20\" stroke=\""
        << kMidiColour << "\" stroke-dasharray=\"2,2\"/><text x=\"" << kLabelWidth + 266
        << "\" y=\"18\">MIDI moved a parameter</text>\n";

    // Where MIDI moved a parameter: one mark per column at most, in a strip
    // under the legend and faintly across every lane.
    std::set<int> marked;
    for (int64_t f : midiFrames)
        if (frames > 0 && f >= 0 && f < frames) marked.insert(static_cast<int>(f * kPlotColumns / frames));
    if (!marked.empty()) {
        svg << "<text x=\"" << kLabelWidth - 4 << "\" y=\"" << kTop - 8 << "\" text-anchor=\"end\" fill=\""
            << kMidiColour << "\">MIDI</text>\n";
        for (int column : marked)
            svg << "<line x1=\"" << columnX(column + 0.5) << "\" y1=\"" << kTop - 16 << "\" x2=\"" << columnX(column + 0.5)
                << "\" y2=\"" << kTop - 6 << "\" stroke=\"" << kMidiColour << "\"/>\n";
    }

    for (int lane = 0; lane < lanes; ++lane) {
        const OutputReport& o = outputs[static_cast<size_t>(lane)];
        const int top = kTop + lane * (kLaneHeight + kLaneGap);
        const int bottom = top + kLaneHeight;
        auto levelY = [&](double db) {
            const double clamped = std::max(kFloorDb, std::min(topDb, db));
            return bottom - (clamped - kFloorDb) / (topDb - kFloorDb) * kLaneHeight;
        };
        svg << "<text x=\"8\" y=\"" << top + kLaneHeight / 2 << "\" font-size=\"13\">" << escapeXml(o.name)
            << "</text>\n"
            << "<text x=\"8\" y=\"" << top + kLaneHeight / 2 + 15 << "\" fill=\"#666\">" << dbText(o.levels.lufs)
            << " LUFS</text>\n"
            << "<rect x=\"" << kLabelWidth << "\" y=\"" << top << "\" width=\"" << kPlotWidth << "\" height=\""
            << kLaneHeight << "\" fill=\"#eeeee8\"/>\n";
        // Grid lines at the top, 0 dBFS and every 20 dB below, labelled.
        std::vector<double> grid;
        if (topDb > 0.0) grid.push_back(topDb);
        for (double db = 0.0; db >= kFloorDb; db -= 20.0) grid.push_back(db);
        for (double db : grid) {
            const double y = levelY(db);
            svg << "<line x1=\"" << kLabelWidth << "\" y1=\"" << y << "\" x2=\"" << kLabelWidth + kPlotWidth
                << "\" y2=\"" << y << "\" stroke=\"" << (db == 0.0 ? "#999" : "#d4d4cc") << "\"/>\n"
                << "<text x=\"" << kLabelWidth - 4 << "\" y=\"" << y + 4 << "\" text-anchor=\"end\" fill=\"#666\">"
                << static_cast<int>(db) << "</text>\n";
        }
        for (int column : marked)
            svg << "<line x1=\"" << columnX(column + 0.5) << "\" y1=\"" << top << "\" x2=\"" << columnX(column + 0.5)
                << "\" y2=\"" << bottom << "\" stroke=\"" << kMidiColour << "\" stroke-opacity=\"0.18\"/>\n";
        for (int side = 0; side < 2; ++side) {
            const auto& peaks = o.columns[side];
            svg << "<polyline fill=\"none\" stroke=\"" << kSideColour[side] << "\" stroke-width=\"1.1\" points=\"";
            for (int column = 0; column < kPlotColumns; ++column)
                svg << columnX(column + 0.5) << ',' << levelY(toDb(peaks[static_cast<size_t>(column)])) << ' ';
            svg << "\"/>\n";
        }
    }
    // The time axis.
    for (int tick = 0; tick <= 10; ++tick) {
        const double x = kLabelWidth + tick * kPlotWidth / 10.0;
        svg << "<line x1=\"" << x << "\" y1=\"" << plotBottom - kLaneGap << "\" x2=\"" << x << "\" y2=\""
            << plotBottom - kLaneGap + 5 << "\" stroke=\"#666\"/><text x=\"" << x << "\" y=\"" << plotBottom + 6
            << "\" text-anchor=\"middle\">" << timeText(seconds * tick / 10.0) << "</text>\n";
    }
    svg << "</svg>\n";
    return svg.str();
}

}  // namespace tools
