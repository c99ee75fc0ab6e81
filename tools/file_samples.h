// What a written file holds for each sample the render gives it. Float
// files keep every value as it is. 16- and 24-bit files hold the nearest of
// their steps (ties to the even step), and clip what lies beyond their
// range (-1 up to one step below +1); a sample that is not a finite number
// becomes full scale there (an infinity with its sign, NaN as +1).
// tarnvale-host writes these steps itself and measures them, so every
// figure it reports is the file's own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tools {

class FileSamples {
public:
    // [any thread] format: a libsndfile format word.
    explicit FileSamples(int format);

    // Whether the file holds steps, not floats.
    bool quantizes() const { return steps_ > 0.0f; }
    // Bits a sample (16 or 24), 0 for float files.
    int bits() const { return bits_; }

    // [any thread] out[i] = what the file holds for in[i], as libsndfile
    // reads it back in floats (in may be out). Returns how many finite
    // samples lay beyond the file's range and were clipped. In float files
    // the samples are copied unchanged and nothing clips.
    // `finite`: the caller has counted no non-finite sample among them.
    uint64_t hold(const float* in, float* out, size_t n, bool finite = false) const;
    // [any thread] hold() of both sides' n samples in one pass, for a file
    // that quantizes, while every sample is finite: false, with the held
    // samples undefined, when any is not; else `clipped` is set to what
    // hold() would count for both, and `words` (when given: 2n of them)
    // what words() gives for the held samples. n below 2^31.
    bool holdFinite(const float* left, const float* right, float* heldLeft, float* heldRight, size_t n,
                    uint64_t& clipped, int32_t* words = nullptr) const;

    // [any thread] Both sides' n samples, each already one the file holds
    // (as hold() gives them), interleaved as 32-bit whole numbers with the
    // step in their top bits, which libsndfile stores in a 16- or 24-bit
    // file as they are (for files that quantize).
    void words(const float* heldLeft, const float* heldRight, int32_t* out, size_t n) const;

private:
    int bits_ = 0;
    float steps_ = 0.0f;  // steps from 0 to full scale: 2^(bits - 1)
};

}  // namespace tools
