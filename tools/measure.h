// Measuring one stereo output as it is rendered: sample peak, RMS, clipped
// and non-finite samples, the level plot's columns and the true peak
// (LevelMeter), and integrated loudness and loudness range with libebur128
// (LoudnessMeter). Each is fed in render order by one thread at a time;
// memory does not grow with the length of the render, and the figures do
// not depend on how the frames are split into calls.
//
// Both measure what the file holds (file_samples.h): a 16-bit file's
// samples after quantizing and clipping, a float file's as they are. A
// sample that is not a finite number is counted, and measured as full
// scale (an infinity with its sign, NaN as +1): never as silence.
#pragma once

#include <ebur128.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "file_samples.h"
#include "true_peak.h"

namespace tools {

// [any thread] The samples that are NaN or infinite among n.
uint64_t countNonFinite(const float* samples, size_t n);
// [any thread] Both sides' n samples, interleaved into out (2n samples).
void interleave(const float* left, const float* right, float* out, size_t n);
// [any thread] Copies n samples, each non-finite one replaced as above;
// returns how many were replaced.
uint64_t finiteCopy(const float* in, float* out, size_t n);

// The plot's time resolution: each column holds the peaks of its frames.
constexpr int kPlotColumns = 600;

class LevelMeter {
public:
    // totalFrames: the render's length, to place each frame in its column;
    // file: what the written file holds.
    LevelMeter(int64_t totalFrames, const FileSamples& file);
    // [any thread] The next n frames (one call at a time). For a file that
    // quantizes, `words` (when given: 2n of them) gets what
    // FileSamples::words gives for the held frames.
    void add(const float* left, const float* right, size_t n, int32_t* words = nullptr);
    // [any thread] After the last add() (one call at a time): completes the true peak.
    void finish();
    // [any thread] After add(): one side of its frames as the file holds
    // them (the frames given, or a copy), valid until the next add().
    const float* held(int side) const { return side_[side]; }

    double peak() const { return peak_; }          // linear
    double rms() const;                            // linear
    double truePeak() const;                       // linear, after finish()
    uint64_t clipped() const { return clipped_; }
    uint64_t nonFinite() const { return nonFinite_; }
    // Per plot column, each side's peak (linear).
    const std::vector<float>& columnPeaks(int side) const { return columns_[side]; }
    // Per plot column, the samples the file clipped there.
    const std::vector<uint64_t>& columnClipped() const { return columnClipped_; }

private:
    void addColumnRun(const float* left, const float* right, size_t n);

    int64_t total_, seen_ = 0;
    int column_ = 0;
    int64_t columnEnd_ = 0;  // the first frame of the next column
    FileSamples file_;
    double peak_ = 0.0, sumSquares_ = 0.0;
    uint64_t samples_ = 0, clipped_ = 0, nonFinite_ = 0;
    std::vector<float> columns_[2];
    std::vector<uint64_t> columnClipped_;
    std::vector<float> held_[2];  // a call's samples as the file holds them
    const float* side_[2] = {nullptr, nullptr};
    TruePeakMeter truePeak_[2];
};

// Integrated loudness and loudness range of what the file holds. Frames of
// exact silence before the first sound are only counted, and handed to
// libebur128 when a sound follows: an output that stays silent costs
// nothing, and measures as it would have. libebur128 keeps the last 3 s of
// both channels in memory (bytes()), until finish().
class LoudnessMeter {
public:
    explicit LoudnessMeter(int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // [any thread] The next n frames as the file holds them, interleaved
    // (one call at a time): whole numbers with the step in their top bits
    // (FileSamples::words), or finite floats.
    void add(const int32_t* frames, size_t n);
    void add(const float* frames, size_t n);
    // [any thread] After the last add(): the figures taken, the memory given back.
    void finish();
    double lufs() const { return lufs_; }  // after finish(); -inf when nothing reaches the gate
    double lra() const { return lra_; }    // LU, after finish()

    // [any thread] pure. The memory one meter holds at a sample rate, near enough to plan by.
    static size_t bytes(int sampleRate);

private:
    // Hands over the silence counted so far; false while `frames` is silence too.
    template <typename Sample>
    bool sounding(const Sample* frames, size_t n);

    ebur128_state* state_ = nullptr;
    bool sounded_ = false;
    uint64_t silence_ = 0;  // frames of silence not yet handed over
    double lufs_ = 0.0, lra_ = 0.0;
};

}  // namespace tools
