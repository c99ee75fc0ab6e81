// What a render reports about its outputs, measured block by block as they
// are written: peak, RMS, integrated loudness, loudness range and true peak
// (libebur128), clipped samples, and a level plot. Nothing here grows with
// the length of the render.
#pragma once

#include <ebur128.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tools {

struct Measured {
    double peakDb;      // dBFS; -inf for silence
    double rmsDb;       // dBFS
    double lufs;        // integrated loudness; -inf when nothing reaches the gate
    double lra;         // loudness range, LU
    double truePeakDb;  // dBTP
    uint64_t clipped;   // samples the file had to clip (none in float files)
};

// The plot's time resolution: each column holds the peaks of its frames.
constexpr int kPlotColumns = 600;

class OutputMeter {
public:
    // totalFrames: the render's length, to place each frame in its column;
    // clips: whether the written file clips samples beyond full scale.
    OutputMeter(int sampleRate, int64_t totalFrames, bool clips);
    ~OutputMeter();
    OutputMeter(const OutputMeter&) = delete;
    OutputMeter& operator=(const OutputMeter&) = delete;

    // The next n frames of the output.
    void add(const float* left, const float* right, size_t n);
    Measured result() const;
    // Per plot column, each side's peak (linear).
    const std::vector<float>& columnPeaks(int side) const { return peaks_[side]; }

private:
    ebur128_state* loudness_ = nullptr;
    int64_t total_, seen_ = 0;
    bool clips_;
    double peak_ = 0.0, sumSquares_ = 0.0;
    uint64_t count_ = 0, clipped_ = 0;
    std::vector<float> peaks_[2];
    std::vector<float> interleaved_;
};

struct OutputReport {
    std::string name;  // main, send1, send2, ch01 ...
    std::string file;
    Measured levels;
    const OutputMeter* meter;
};

// One row per output: peak, RMS, loudness, loudness range, true peak,
// clipped samples.
void printLevelTable(const std::vector<OutputReport>& outputs, std::ostream& out);

// The plot as SVG: per output a lane with each side's peak level over time
// on a dB scale with grid lines and labels, and a mark wherever MIDI moved
// a parameter (frames in midiFrames).
std::string levelPlotSvg(const std::vector<OutputReport>& outputs, int sampleRate, int64_t frames,
                         const std::vector<int64_t>& midiFrames);

// A level in dB as the table shows it: one decimal, "-inf" for silence.
std::string dbText(double db);

}  // namespace tools
