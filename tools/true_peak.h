// True peak of one channel: the signal interpolated at four times its rate
// by a Kaiser-windowed sinc (12 taps a phase, single precision, vectorized
// for the processor at hand), and the highest of those points refined by a
// parabola through it and its neighbours, so that tones near the band edge
// read their peak, not the grid's. Memory stays the same for any length;
// the result does not depend on how the samples are split into calls.
#pragma once

#include <cstddef>
#include <vector>

namespace tools {

class TruePeakMeter {
public:
    TruePeakMeter();
    // [any thread] The next n samples, every one finite (one call at a time).
    void add(const float* samples, size_t n);
    // [any thread] After the last add() (one call at a time). The signal ends: the points after its last samples.
    void finish();
    // Linear true peak (0 for silence); valid after finish().
    double peak() const { return best_; }

    static constexpr int kTaps = 12;    // per phase
    static constexpr int kFactor = 4;   // points per sample
    static constexpr size_t kPiece = 4096;  // samples interpolated at a time

private:
    void interpolate(size_t n);

    std::vector<float> window_;  // kTaps - 1 samples of history, then the piece
    size_t pending_ = 0;         // samples of the piece so far
    std::vector<float> points_;  // |interpolated| per phase 1..3, for the piece
    std::vector<float> peaks_;   // per sample, its highest point
    float lastPhase3_ = 0.0f;    // the point before the piece's first sample
    double best_ = 0.0;
};

}  // namespace tools
