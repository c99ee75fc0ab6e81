// The floating-point environment of one audio call. Samples below the
// smallest normal float (reverb tails, long fades) would make every
// multiplication take a slow path, so each call flushes them to zero, with
// every exception masked and rounding to nearest whatever the caller had,
// and gives the caller's state back on the way out.
#pragma once

#include <cstdint>

#if defined(__SSE2__) || defined(__x86_64__)
#include <xmmintrin.h>
#define TARNVALE_HAS_MXCSR 1
#else
#define TARNVALE_HAS_MXCSR 0
#endif

namespace tarnvale {

#if TARNVALE_HAS_MXCSR
constexpr uint32_t kMxcsrMaskAll = 0x1F80;    // every exception masked, round to nearest
constexpr uint32_t kMxcsrFlushToZero = 0x8000;  // results below the normal range become 0
constexpr uint32_t kMxcsrDenormalsAreZero = 0x0040;  // such inputs count as 0

// [main thread] The control word audio calls run with. Processors that lack
// denormals-are-zero (a few of the first with SSE2) only flush results.
uint32_t audioControlWord();

// [audio thread] Sets `word` for its scope and restores the caller's
// control and status word when it ends, on every path. (A host that already
// runs with it costs no write.)
class ScopedAudioFloatEnv {
public:
    explicit ScopedAudioFloatEnv(uint32_t word) : saved_(_mm_getcsr()) {
        if (saved_ != word) _mm_setcsr(word);
    }
    ~ScopedAudioFloatEnv() { _mm_setcsr(saved_); }
    ScopedAudioFloatEnv(const ScopedAudioFloatEnv&) = delete;
    ScopedAudioFloatEnv& operator=(const ScopedAudioFloatEnv&) = delete;

private:
    unsigned int saved_;
};
#else
// Other processors: the state is left as the caller has it.
inline uint32_t audioControlWord() { return 0; }
class ScopedAudioFloatEnv {
public:
    explicit ScopedAudioFloatEnv(uint32_t) {}
};
#endif

}  // namespace tarnvale
