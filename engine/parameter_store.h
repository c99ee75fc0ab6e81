// The parameter store: the controls' values (the 68 parameters, then the
// switches and the smoothing), each one 32-bit float written and read whole
// from any thread, and one dirty bit per control that tells the audio
// thread which values changed since it last looked.
#pragma once

#include <atomic>
#include <cstdint>

#include "tables.h"

namespace tarnvale {

// The dirty bits: bit (index mod 32) of word (index / 32). A writer stores
// the value, then sets its bit with release order; the audio thread takes
// the words with an acquire exchange, so it sees every value whose bit it took.
struct DirtyBits {
    static constexpr int kWords = (kNumControls + 31) / 32;
    std::atomic<uint32_t> word[kWords];

    // [any thread] no allocation, no locks.
    void mark(int index) { word[index / 32].fetch_or(1u << (index % 32), std::memory_order_release); }
    // [any thread] no allocation, no locks. Whether any bit is set (a relaxed look).
    bool any() const {
        uint32_t bits = 0;
        for (const auto& w : word) bits |= w.load(std::memory_order_relaxed);
        return bits != 0;
    }
    // [audio thread] no allocation, no locks. Takes and clears the set bits. False when none.
    bool take(uint32_t (&taken)[kWords]) {
        // Most calls find nothing: one look at every word first.
        uint32_t seen = 0;
        for (int k = 0; k < kWords; ++k) seen |= taken[k] = word[k].load(std::memory_order_relaxed);
        if (seen == 0) return false;
        for (int k = 0; k < kWords; ++k)
            if (taken[k] != 0) taken[k] = word[k].exchange(0, std::memory_order_acquire);
        return true;
    }
};

class ParameterStore {
public:
    // [main thread] Every parameter at its default, every switch off,
    // smoothing off; no bit set.
    ParameterStore() {
        for (int index = 0; index < kNumControls; ++index)
            values_[index].store(index < kNumParams ? defaultValue(index) : 0.0f, std::memory_order_relaxed);
        for (auto& w : dirty.word) w.store(0, std::memory_order_relaxed);
    }

    // [any thread] no allocation, no locks. The value is kept exactly as given.
    void set(int index, float value) {
        values_[index].store(value, std::memory_order_relaxed);
        dirty.mark(index);
    }
    // [any thread] no allocation, no locks.
    float get(int index) const { return values_[index].load(std::memory_order_relaxed); }

    DirtyBits dirty;

private:
    std::atomic<float> values_[kNumControls];
};

static_assert(std::atomic<float>::is_always_lock_free, "parameters must be lock-free");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "dirty bits must be lock-free");

}  // namespace tarnvale
