// The level plot a render draws with --plot: an SVG with one lane per
// output, each side's peak level per column of time on a dB scale, where
// the file clipped, and one lane at the top marking where MIDI moved a
// parameter. Everything is drawn at most once per column, so the file's
// size grows with the number of outputs, not with the render's length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report.h"

namespace tools {

struct TimeTick {
    double seconds;
    std::string text;
};

// [any thread] Ticks for a time axis from 0 to `seconds`: at most 10 steps, each a round
// step (1, 2 or 5 times a power of ten below a minute; 10 s, 15 s, 30 s, a
// minute ... above), all labelled in one format: seconds with the step's
// decimals below a minute ("0.5"), m:ss up to an hour ("2:30"), h:mm:ss
// from an hour on.
std::vector<TimeTick> timeTicks(double seconds);

// [main thread] The plot of the outputs' columns (OutputReport::columns and
// clippedColumns) over `frames` frames, marking the columns of midiFrames.
std::string levelPlotSvg(const std::vector<OutputReport>& outputs, int sampleRate, int64_t frames,
                         const std::vector<int64_t>& midiFrames);

}  // namespace tools
