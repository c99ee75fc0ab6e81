// What a render reports about its outputs: the level table, from the
// figures measure.h gathers (level_plot.h draws the plot).
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "measure.h"

namespace tools {

struct Measured {
    double peakDb;       // dBFS; -inf for silence
    double rmsDb;        // dBFS
    double lufs;         // integrated loudness; -inf when nothing reaches the gate
    double lra;          // loudness range, LU
    double truePeakDb;   // dBTP
    uint64_t clipped;    // samples the file had to clip (none in float files)
    uint64_t nonFinite;  // NaN and infinite samples (measured as full scale)
};

struct OutputReport {
    std::string name;  // main, send1, send2, ch01 ...
    std::string file;
    Measured levels;
    std::vector<float> columns[2];  // per plot column, each side's peak (linear)
    std::vector<uint64_t> clippedColumns;  // per plot column, the samples the file clipped
};

// One row per output: peak, RMS, loudness, loudness range, true peak,
// clipped and non-finite samples.
void printLevelTable(const std::vector<OutputReport>& outputs, std::ostream& out);

// A level in dB as the table shows it: one decimal, "-inf" for silence.
std::string dbText(double db);

}  // namespace tools
