// Levels of rendered outputs: a table in dBFS and an SVG plot over time.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tools {

struct NamedOutput {
    std::string name;
    const std::vector<float>* left;
    const std::vector<float>* right;
};

struct Levels {
    double peakDb;  // -inf for silence
    double rmsDb;
    size_t clipped;  // samples at or beyond full scale
};

Levels measure(const std::vector<float>& left, const std::vector<float>& right);

// One row per output: peak and RMS in dBFS, clipped samples.
void printLevelTable(const std::vector<NamedOutput>& outputs, std::ostream& out);

// The level of every output over time, one lane each.
bool writeLevelPlot(const std::string& path, const std::vector<NamedOutput>& outputs, int sampleRate,
                    std::string& error);

}  // namespace tools
