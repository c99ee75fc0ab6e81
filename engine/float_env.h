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
#elif defined(__aarch64__)
// 64-bit ARM: the controls live in FPCR, the exception flags in FPSR.
constexpr uint32_t kFpcrFlushToZero = 1u << 24;  // FZ: inputs and results below the normal range count as 0
// Every other FPCR bit clear: rounding to nearest (RMode, bits 23:22), no
// exception trapped, NaNs propagated as on x86 (no default NaN), IEEE
// half-precision, and no alternative handling.

// [any thread] pure. The control register audio calls run with.
inline uint32_t audioControlWord() { return kFpcrFlushToZero; }

// [audio thread] Sets `word` in FPCR for its scope and gives the caller its
// FPCR and FPSR (the flags raised meanwhile) back when it ends, on every
// path. (A host that already runs with it costs no write of FPCR.) The
// memory clobbers keep the mixing, done through calls and memory, between
// the writes.
class ScopedAudioFloatEnv {
public:
    explicit ScopedAudioFloatEnv(uint32_t word)
        : control_(readFpcr()), status_(readFpsr()), changed_(control_ != word) {
        if (changed_) writeFpcr(word);
    }
    ~ScopedAudioFloatEnv() {
        writeFpsr(status_);
        if (changed_) writeFpcr(control_);
    }
    ScopedAudioFloatEnv(const ScopedAudioFloatEnv&) = delete;
    ScopedAudioFloatEnv& operator=(const ScopedAudioFloatEnv&) = delete;

private:
    static uint64_t readFpcr() {
        uint64_t value;
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(value)::"memory");
        return value;
    }
    static void writeFpcr(uint64_t value) { __asm__ __volatile__("msr fpcr, %0" ::"r"(value) : "memory"); }
    static uint64_t readFpsr() {
        uint64_t value;
        __asm__ __volatile__("mrs %0, fpsr" : "=r"(value)::"memory");
        return value;
    }
    static void writeFpsr(uint64_t value) { __asm__ __volatile__("msr fpsr, %0" ::"r"(value) : "memory"); }

    uint64_t control_, status_;
    bool changed_;
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
