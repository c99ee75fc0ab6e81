#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>

namespace tools {

namespace {

double toDb(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

std::string dbText(double db) {
    if (std::isinf(db)) return "-inf";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", db);
    return text;
}

constexpr double kFloorDb = -60.0;  // bottom of each plot lane
constexpr int kPlotWidth = 900;
constexpr int kLabelWidth = 90;
constexpr int kLaneHeight = 44;
constexpr int kColumns = 450;

}  // namespace

Levels measure(const std::vector<float>& left, const std::vector<float>& right) {
    double peak = 0.0, sum = 0.0;
    size_t clipped = 0, count = 0;
    for (const auto* side : {&left, &right})
        for (float x : *side) {
            const double a = std::fabs(static_cast<double>(x));
            peak = std::max(peak, a);
            sum += a * a;
            if (a >= 1.0) ++clipped;
            ++count;
        }
    return {toDb(peak), toDb(count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0), clipped};
}

void printLevelTable(const std::vector<NamedOutput>& outputs, std::ostream& out) {
    out << std::left << std::setw(10) << "output" << std::right << std::setw(12) << "peak dBFS" << std::setw(12)
        << "RMS dBFS" << std::setw(10) << "clipped" << '\n';
    for (const auto& o : outputs) {
        const Levels l = measure(*o.left, *o.right);
        out << std::left << std::setw(10) << o.name << std::right << std::setw(12) << dbText(l.peakDb) << std::setw(12)
            << dbText(l.rmsDb) << std::setw(10) << l.clipped << '\n';
    }
}

bool writeLevelPlot(const std::string& path, const std::vector<NamedOutput>& outputs, int sampleRate,
                    std::string& error) {
    std::ofstream svg(path);
    if (!svg) {
        error = "cannot write " + path;
        return false;
    }
    const size_t frames = outputs.empty() ? 0 : std::min(outputs[0].left->size(), outputs[0].right->size());
    const int lanes = static_cast<int>(outputs.size());
    const int height = lanes * kLaneHeight + 40;
    const int width = kLabelWidth + kPlotWidth + 20;
    const double seconds = sampleRate > 0 ? static_cast<double>(frames) / sampleRate : 0.0;

    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<title>Tarnvale render: output levels over " << std::fixed << std::setprecision(2) << seconds
        << " s (peak per column, " << kFloorDb << " to 0 dBFS)</title>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>\n";
    for (int lane = 0; lane < lanes; ++lane) {
        const auto& o = outputs[static_cast<size_t>(lane)];
        const int top = 10 + lane * kLaneHeight;
        const int bottom = top + kLaneHeight - 6;
        svg << "<text x=\"8\" y=\"" << (top + kLaneHeight / 2) << "\">" << o.name << "</text>\n"
            << "<rect x=\"" << kLabelWidth << "\" y=\"" << top << "\" width=\"" << kPlotWidth << "\" height=\""
            << (bottom - top) << "\" fill=\"#eeeee8\"/>\n";
        std::string points;
        for (int col = 0; col < kColumns; ++col) {
            const size_t from = frames * static_cast<size_t>(col) / kColumns;
            const size_t to = std::max(from + 1, frames * static_cast<size_t>(col + 1) / kColumns);
            double peak = 0.0;
            for (size_t i = from; i < to && i < frames; ++i)
                peak = std::max({peak, std::fabs(static_cast<double>((*o.left)[i])),
                                 std::fabs(static_cast<double>((*o.right)[i]))});
            const double db = std::max(kFloorDb, std::min(0.0, toDb(peak)));
            const double y = bottom - (db - kFloorDb) / -kFloorDb * (bottom - top);
            const double x = kLabelWidth + (col + 0.5) * kPlotWidth / kColumns;
            char p[48];
            std::snprintf(p, sizeof p, "%.1f,%.1f ", x, y);
            points += p;
        }
        svg << "<polyline fill=\"none\" stroke=\"#2a6f97\" stroke-width=\"1.2\" points=\"" << points << "\"/>\n";
    }
    const int axis = 10 + lanes * kLaneHeight + 14;
    for (int tick = 0; tick <= 10; ++tick) {
        const double x = kLabelWidth + tick * kPlotWidth / 10.0;
        svg << "<text x=\"" << x << "\" y=\"" << axis << "\" text-anchor=\"middle\">" << std::setprecision(1)
            << seconds * tick / 10.0 << " s</text>\n";
    }
    svg << "</svg>\n";
    svg.close();
    if (!svg) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tools
