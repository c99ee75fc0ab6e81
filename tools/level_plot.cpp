#include "level_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <sstream>

namespace tools {

namespace {

// The plot's geometry: each of the meters' columns is 1.5 pixels wide.
constexpr int kLabelWidth = 110;
constexpr int kPlotWidth = 900;
constexpr double kColumnWidth = static_cast<double>(kPlotWidth) / kPlotColumns;
constexpr int kLaneHeight = 78;
constexpr int kLaneGap = 14;
constexpr int kMidiTop = 28, kMidiHeight = 12;  // the MIDI lane
constexpr int kTop = 50;                         // the first output's lane
constexpr int kClipHeight = 6;
constexpr int kLabelSpacing = 14;  // the least room between two scale labels
constexpr double kFloorDb = -60.0;
const char* const kSideColour[2] = {"#1f6fb2", "#e8821e"};
// The left side is drawn solid and the right dashed on top of it, so where
// the two are equal both still show, in turns.
const char* const kSideStroke[2] = {"stroke-width=\"1.8\"", "stroke-width=\"1.8\" stroke-dasharray=\"5 4\""};
const char* const kMidiColour = "#7b3fa0";
const char* const kClipColour = "#d62728";

double toDb(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

std::string escapeXml(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

// A coordinate with at most one decimal, and none when it is whole.
std::string number(double v) {
    char text[32];
    const double tenths = std::round(v * 10.0);
    if (std::fmod(tenths, 10.0) == 0.0) std::snprintf(text, sizeof text, "%.0f", tenths / 10.0);
    else std::snprintf(text, sizeof text, "%.1f", tenths / 10.0);
    return std::string(text) == "-0" ? "0" : text;
}

double columnX(double column) { return kLabelWidth + column * kColumnWidth; }

// One side's trace as path data: a point per column, the levels to whole
// pixels, each step relative to the last (so the numbers stay short) and a
// level that holds drawn as one horizontal stretch.
std::string tracePath(const std::vector<float>& peaks, double top, double topDb) {
    auto levelY = [&](float peak) {
        const double clamped = std::max(kFloorDb, std::min(topDb, toDb(peak)));
        return static_cast<long>(std::lround(top + kLaneHeight - (clamped - kFloorDb) / (topDb - kFloorDb) * kLaneHeight));
    };
    std::string d = "M" + number(columnX(0.5)) + " " + std::to_string(levelY(peaks.empty() ? 0.0f : peaks[0]));
    char command = 'M';
    long y = peaks.empty() ? 0 : levelY(peaks[0]);
    size_t held = 0;  // columns whose level stays the same, not yet drawn
    auto flush = [&] {
        if (held == 0) return;
        d += "h" + number(static_cast<double>(held) * kColumnWidth);
        command = 'h';
        held = 0;
    };
    for (size_t column = 1; column < peaks.size(); ++column) {
        const long next = levelY(peaks[column]);
        if (next == y) {
            ++held;
            continue;
        }
        flush();
        const std::string dy = std::to_string(next - y);
        d += command != 'l' ? "l" : " ";
        d += number(kColumnWidth) + (dy[0] == '-' ? "" : " ") + dy;
        command = 'l';
        y = next;
    }
    flush();
    return d;
}

}  // namespace

std::vector<TimeTick> timeTicks(double seconds) {
    static const double kSteps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30,
                                    60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};
    if (!(seconds > 0.0)) return {{0.0, "0"}};
    double step = kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
    for (double s : kSteps)
        if (seconds / s <= 10.0 + 1e-9) {
            step = s;
            break;
        }
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    std::vector<TimeTick> ticks;
    for (long k = 0;; ++k) {
        const double t = static_cast<double>(k) * step;
        if (t > seconds + 1e-9 * std::max(1.0, seconds)) break;
        char text[32];
        const long whole = std::lround(t);
        if (seconds >= 3600.0)
            std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
        else if (seconds >= 60.0)
            std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
        else
            std::snprintf(text, sizeof text, "%.*f", decimals, t);
        ticks.push_back({t, text});
    }
    return ticks;
}

std::string levelPlotSvg(const std::vector<OutputReport>& outputs, int sampleRate, int64_t frames,
                         const std::vector<int64_t>& midiFrames) {
    // The scale reaches above 0 dBFS only when an output does (float files).
    double topDb = 0.0;
    for (const auto& o : outputs) topDb = std::max(topDb, std::ceil(o.levels.peakDb / 6.0) * 6.0);
    topDb = std::min(topDb, 24.0);
    const int lanes = static_cast<int>(outputs.size());
    const int plotBottom = kTop + lanes * (kLaneHeight + kLaneGap);
    const int height = plotBottom + 40;
    const int width = kLabelWidth + kPlotWidth + 30;
    const double seconds = sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;
    const std::vector<TimeTick> ticks = timeTicks(seconds);
    const char* unit = seconds >= 3600.0 ? "h:mm:ss" : seconds >= 60.0 ? "m:ss" : "seconds";

    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<title>Tarnvale render: peak level of each output over " << ticks.back().text
        << (seconds < 60.0 ? " s" : "") << "</title>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>\n";

    // Legend.
    svg << "<g id=\"legend\"><text x=\"" << kLabelWidth << "\" y=\"16\">peak level, dBFS:</text>";
    for (int side = 0; side < 2; ++side) {
        const int x = kLabelWidth + 100 + side * 62;
        svg << "<path d=\"M" << x << " 12h18\" stroke=\"" << kSideColour[side] << "\" " << kSideStroke[side]
            << "/><text x=\"" << x + 22 << "\" y=\"16\">" << (side == 0 ? "left" : "right") << "</text>";
    }
    svg << "<rect x=\"" << kLabelWidth + 240 << "\" y=\"8\" width=\"12\" height=\"" << kClipHeight << "\" fill=\""
        << kClipColour << "\"/><text x=\"" << kLabelWidth + 256 << "\" y=\"16\">clipped in the file</text>"
        << "<path d=\"M" << kLabelWidth + 370 << " 7v10\" stroke=\"" << kMidiColour << "\" stroke-width=\"1.5\"/><text x=\""
        << kLabelWidth + 376 << "\" y=\"16\">MIDI moved a parameter</text></g>\n";

    // Where MIDI moved a parameter: one lane of its own, a mark per column.
    std::set<int> moved;
    for (int64_t f : midiFrames)
        if (frames > 0 && f >= 0 && f < frames) moved.insert(static_cast<int>(f * kPlotColumns / frames));
    if (!moved.empty()) {
        svg << "<g id=\"midi\"><text x=\"" << kLabelWidth - 6 << "\" y=\"" << kMidiTop + kMidiHeight - 2
            << "\" text-anchor=\"end\" fill=\"" << kMidiColour << "\">MIDI</text><rect x=\"" << kLabelWidth << "\" y=\""
            << kMidiTop << "\" width=\"" << kPlotWidth << "\" height=\"" << kMidiHeight
            << "\" fill=\"#eeeee8\"/><path class=\"midi\" stroke=\"" << kMidiColour << "\" stroke-width=\"1.5\" d=\"";
        for (int column : moved) svg << "M" << number(columnX(column + 0.5)) << " " << kMidiTop << "v" << kMidiHeight;
        svg << "\"/></g>\n";
    }

    for (int lane = 0; lane < lanes; ++lane) {
        const OutputReport& o = outputs[static_cast<size_t>(lane)];
        const int top = kTop + lane * (kLaneHeight + kLaneGap);
        const int bottom = top + kLaneHeight;
        auto levelY = [&](double db) { return bottom - (db - kFloorDb) / (topDb - kFloorDb) * kLaneHeight; };
        svg << "<g class=\"lane\" data-output=\"" << escapeXml(o.name) << "\">\n"
            << "<text x=\"8\" y=\"" << top + 30 << "\" font-size=\"13\">" << escapeXml(o.name) << "</text>"
            << "<text x=\"8\" y=\"" << top + 45 << "\" fill=\"#666\">" << dbText(o.levels.lufs) << " LUFS</text>";
        if (o.levels.clipped > 0)
            svg << "<text x=\"8\" y=\"" << top + 60 << "\" fill=\"" << kClipColour << "\">clipped<title>" << o.levels.clipped
                << " samples clipped</title></text>";
        svg << "\n<rect x=\"" << kLabelWidth << "\" y=\"" << top << "\" width=\"" << kPlotWidth << "\" height=\""
            << kLaneHeight << "\" fill=\"#eeeee8\"/>\n";
        // Grid lines at 0 dBFS, every 20 dB below and the top of the scale;
        // a label only where it has room beside the next.
        std::vector<double> grid;
        for (double db = 0.0; db >= kFloorDb; db -= 20.0) grid.push_back(db);
        if (topDb > 0.0) grid.push_back(topDb);
        for (double db : grid) {
            const double y = levelY(db);
            svg << "<path d=\"M" << kLabelWidth << " " << number(y) << "h" << kPlotWidth << "\" stroke=\""
                << (db == 0.0 ? "#999" : "#d4d4cc") << "\"/>";
            if (db <= 0.0 || levelY(0.0) - y >= kLabelSpacing)
                svg << "<text class=\"scale\" x=\"" << kLabelWidth - 4 << "\" y=\"" << number(y + 4)
                    << "\" text-anchor=\"end\" fill=\"#666\">" << (db > 0.0 ? "+" : "") << static_cast<int>(db) << "</text>";
        }
        svg << '\n';
        // Where the file clipped: a bar on top of the lane over each run of
        // columns that clipped.
        const auto& clipped = o.clippedColumns;
        for (size_t c = 0; c < clipped.size();) {
            if (clipped[c] == 0) {
                ++c;
                continue;
            }
            size_t end = c;
            uint64_t count = 0;
            while (end < clipped.size() && clipped[end] > 0) count += clipped[end++];
            svg << "<rect class=\"clip\" x=\"" << number(columnX(static_cast<double>(c))) << "\" y=\"" << top
                << "\" width=\"" << number(static_cast<double>(end - c) * kColumnWidth) << "\" height=\"" << kClipHeight
                << "\" fill=\"" << kClipColour << "\"><title>" << count << " clipped</title></rect>\n";
            c = end;
        }
        for (int side = 0; side < 2; ++side)
            svg << "<path class=\"" << (side == 0 ? "left" : "right") << "\" fill=\"none\" stroke=\"" << kSideColour[side]
                << "\" " << kSideStroke[side] << " stroke-linejoin=\"round\" d=\"" << tracePath(o.columns[side], top, topDb)
                << "\"/>\n";
        svg << "</g>\n";
    }

    // The time axis: round steps, one format.
    const int axis = plotBottom - kLaneGap;
    svg << "<g id=\"time\"><text x=\"8\" y=\"" << axis + 20 << "\" fill=\"#666\">time (" << unit << ")</text>";
    for (const auto& tick : ticks) {
        const double x = kLabelWidth + (seconds > 0.0 ? tick.seconds / seconds * kPlotWidth : 0.0);
        svg << "<path d=\"M" << number(x) << " " << axis << "v5\" stroke=\"#666\"/><text class=\"tick\" x=\"" << number(x)
            << "\" y=\"" << axis + 20 << "\" text-anchor=\"middle\">" << tick.text << "</text>";
    }
    svg << "</g>\n</svg>\n";
    return svg.str();
}

}  // namespace tools
