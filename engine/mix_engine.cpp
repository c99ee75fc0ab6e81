#include "mix_engine.h"

#include <cmath>
#include <cstring>

#include "float_env.h"

namespace tarnvale {

namespace {

constexpr uint8_t kControlChange = 0xB0;
constexpr double kDefaultRate = 48000.0;
constexpr uint32_t kAllChannels = (1u << kNumChannels) - 1;
constexpr uint32_t kMasterStrip = 1u;

// The strips a control's change reaches (bit s: strip s). A solo reaches
// every channel, as it decides whether the others are heard.
inline uint32_t stripsOf(int index) {
    if (index < kNumParams) return 1u << stripOf(index);
    if (isSwitch(index)) return kindOfSwitch(index) == kSolo ? kAllChannels << 1 : 1u << (channelOfSwitch(index) + 1);
    return 0;  // the smoothing: the next ramps' length
}

}  // namespace

// A parameter's change is taken inline, as every control change from MIDI or
// a host is one; a switch's or the smoothing's out of line.
inline bool MixEngine::absorb(int index) {
    const float value = store_.get(index);
    if (__builtin_expect(index < kNumParams, 1)) {
        // One NaN or infinity from a host must not poison every bus.
        const float used = std::isfinite(value) ? value : defaultValue(index);
        if (std::memcmp(&used, &mixed_[index], sizeof used) == 0) return false;
        mixed_[index] = used;
        changedInUse_[index / 32] |= 1u << (index % 32);
        return true;
    }
    return absorbSetting(index, usedValue(index, value));
}

MixEngine::MixEngine()
    : changedInUse_{},
      gains_{},
      staleLanes_(0),
      ramp_{},
      rampFrom_{},
      rampLength_{},
      rampFrames_(0),
      sampleRate_(kDefaultRate),
      jump_(false),
      jumping_(false),
      muted_(0),
      soloed_(0),
      inverted_(0),
      switched_(0),
      peaks_{},
      meterHold_{},
      heldBits_{},
      floorBits_(0),
      holdFrames_(static_cast<int32_t>(kMeterLaw.holdSeconds * kDefaultRate)),
      fallPerFrame_(static_cast<float>(kMeterLaw.fallDbPerSecond / kDefaultRate)),
      kernels_(&selectedKernel()),
      floatControl_(audioControlWord()),
      checkedInputs_{},
      checkedOutputs_{},
      checkedFrames_(0),
      checkedOverlap_(true),
      lastCcParameter_(kNoParameter),
      lastCcValue_(0.0f) {
    for (int index = 0; index < kNumControls; ++index) mixed_[index] = store_.get(index);
    for (float& db : meterDb_) db = kMeterLaw.floorDb;
    // The smallest magnitude that reads above the floor.
    const float floorGain = std::pow(10.0f, kMeterLaw.floorDb / 20.0f);
    std::memcpy(&floorBits_, &floorGain, sizeof floorBits_);
    computeGains(mixed_, gains_);
    for (int c = 0; c < kNumChannels; ++c) kernels_->spread(gains_, c, 0, kLanes, lanes_);
}

void MixEngine::setSampleRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) return;
    sampleRate_ = rate;
    rampFrames_ = rampFramesFor(mixed_[kSmoothingControl]);
    holdFrames_ = static_cast<int32_t>(kMeterLaw.holdSeconds * rate);
    fallPerFrame_ = static_cast<float>(kMeterLaw.fallDbPerSecond / rate);
}

int32_t MixEngine::rampFramesFor(float ms) const {
    const double frames = std::floor(static_cast<double>(ms) * sampleRate_ / 1000.0 + 0.5);
    return frames < kMaxRampFrames ? static_cast<int32_t>(frames) : kMaxRampFrames;
}

void MixEngine::setMeteredPairs(uint32_t pairs) {
    pairs &= (1u << kNumPairs) - 1;
    // A pair that starts being measured starts from silence.
    for (uint32_t p = pairs & ~peaks_.pairs; p != 0; p &= p - 1) {
        const int pair = __builtin_ctz(p);
        peaks_.peak[pair] = 0;
        meterDb_[pair] = kMeterLaw.floorDb;
        meterHold_[pair] = 0;
        heldBits_[pair] = 0;
    }
    for (uint32_t p = peaks_.pairs & ~pairs; p != 0; p &= p - 1) meterDb_[__builtin_ctz(p)] = kMeterLaw.floorDb;
    peaks_.pairs = pairs;
}

void MixEngine::process(const float* const* inputs, float* const* outputs, int32_t frames, ControlListener listener,
                        void* context) {
    ScopedAudioFloatEnv floatEnv(floatControl_);
    bool overlap = false;
    if (inputs == nullptr || outputs == nullptr || frames < 1) return;
    if (!checkBuffers(inputs, outputs, frames, overlap)) return;
    const MixKernel kernel = overlap ? kernels_->inPlace : kernels_->separate;
    MeterPeaks* const peaks = peaks_.pairs != 0 ? &peaks_ : nullptr;
    if (jump_.load(std::memory_order_relaxed) && jump_.exchange(false, std::memory_order_acquire)) {
        // Every pending change at once: no ramp from what came before.
        jumping_ = true;
        ramp_.channels = 0;
        takeChanges();
        jumping_ = false;
    }
    for (int32_t frame = 0; frame < frames;) {
        // At most one event per frame, applied before the frame is mixed.
        if (queue_.count() > 0 && queue_.headDue() <= frame) applyEvent(listener, context);
        takeChanges();
        // The next event falls due at `next` (a backlog: at the next frame).
        int64_t next = frames;
        if (queue_.count() > 0) {
            next = queue_.headDue();
            if (next <= frame) next = frame + 1;
        }
        if (next >= frames || next >= frame + kLanes) {
            // No event among the next lanes' frames: one run with even gains
            // (or ramps) up to the next event, stopping early for a host's
            // write and where a ramp ends.
            int64_t end = next < frames ? next : frames;
            const GainRamp* ramp = nullptr;
            if (ramp_.channels != 0) {
                ramp = &ramp_;
                for (uint32_t c = ramp_.channels; c != 0; c &= c - 1) {
                    const int64_t last = frame + static_cast<int64_t>(ramp_.remaining[__builtin_ctz(c)]) + 1;
                    end = last < end ? last : end;
                }
            }
            const int32_t mixed =
                kernel(inputs, outputs, frame, static_cast<int32_t>(end) - frame, gains_, nullptr, &store_.dirty, ramp, peaks);
            advanceRamps(mixed);
            frame += mixed;
            continue;
        }
        // Events closer together: each changes the lanes from its own frame,
        // and the group is mixed at once. Ramping channels' lanes follow
        // their ramps.
        for (uint32_t c = staleLanes_ & ~ramp_.channels; c != 0; c &= c - 1)
            kernels_->spread(gains_, __builtin_ctz(c), 0, kLanes, lanes_);
        for (uint32_t c = ramp_.channels; c != 0; c &= c - 1)
            kernels_->spreadRamp(gains_, ramp_, __builtin_ctz(c), 0, kLanes, lanes_);
        staleLanes_ = ramp_.channels;
        const int32_t end = frames - frame > kLanes ? frame + kLanes : frames;
        for (int32_t f = frame + 1; f < end; ++f)
            if (queue_.count() > 0 && queue_.headDue() <= f) {
                // The value set is taken at once; its dirty bit, taken with
                // the next run's, then finds it already in the gains.
                const int32_t index = applyEvent(listener, context);
                // (MIDI reaches only the parameters: one strip each.)
                if (index >= 0 && absorb(index)) recompute(1u << stripOf(index), f - frame);
            }
        kernel(inputs, outputs, frame, end - frame, gains_, &lanes_, nullptr, nullptr, peaks);
        advanceRamps(end - frame);
        frame = end;
    }
    queue_.endBlock(frames);
    if (peaks != nullptr) updateMeters(frames);
}

int32_t MixEngine::applyEvent(ControlListener listener, void* context) {
    const QueuedMidiEvent event = queue_.take();
    // Other messages, and control changes whose data bytes are not 7-bit
    // (not valid MIDI), are taken without effect.
    if (event.status != kControlChange || ((event.data1 | event.data2) & 0x80) != 0) return -1;
    lastCcParameter_ = kParameterForController[event.data1];
    if (lastCcParameter_ == kNoParameter) return -1;
    lastCcValue_ = controllerValue(event.data2);
    if (listener != nullptr)
        listener(context, lastCcParameter_, lastCcValue_);
    else
        store_.set(lastCcParameter_, lastCcValue_);
    return lastCcParameter_;
}

float MixEngine::usedValue(int index, float value) {
    // One NaN or infinity from a host must not poison every bus.
    float used = std::isfinite(value) ? value : controlDefault(index);
    if (isSwitch(index)) used = used > kSwitchThreshold ? 1.0f : 0.0f;
    if (index == kSmoothingControl) used = used > 0.0f ? used : 0.0f;
    return used;
}

bool MixEngine::absorbSetting(int index, float used) {
    if (std::memcmp(&used, &mixed_[index], sizeof used) == 0) return false;
    mixed_[index] = used;
    changedInUse_[index / 32] |= 1u << (index % 32);
    if (index == kSmoothingControl) rampFrames_ = rampFramesFor(used);
    if (isSwitch(index)) {
        uint32_t& on = kindOfSwitch(index) == kMute ? muted_ : kindOfSwitch(index) == kSolo ? soloed_ : inverted_;
        const uint32_t bit = 1u << channelOfSwitch(index);
        on = used != 0.0f ? on | bit : on & ~bit;
        switched_ = muted_ | soloed_ | inverted_;
    }
    return true;
}

float MixEngine::gainAt(int f, int c, int lane) const {
    if (((ramp_.channels >> c) & 1u) == 0) return gains_.feed[f][c];
    const float steps = ramp_.remaining[c] - static_cast<float>(lane);
    if (steps > static_cast<float>(rampLength_[c] - 1)) return rampFrom_[f][c];  // before the ramp began
    if (steps < 0.0f) return gains_.feed[f][c];                                   // after it ended
    return rampGain(gains_.feed[f][c], ramp_.span[f][c], steps, ramp_.inverse[c]);
}

void MixEngine::recompute(uint32_t strips, int lane) {
    if (strips == 0) return;
    const bool master = (strips & kMasterStrip) != 0;  // the master strip reaches every channel
    const uint32_t channels = master ? kAllChannels : (strips >> 1) & kAllChannels;
    if (__builtin_expect(rampFrames_ != 0 && !jumping_, 0)) {
        rampTo(channels, master, lane);
    } else {
        // Steps: the new gains from this frame on, and no ramp.
        if (master)
            computeGains(mixed_, gains_);
        else
            for (uint32_t bits = channels; bits != 0; bits &= bits - 1) computeChannelGains(mixed_, __builtin_ctz(bits), gains_);
        if (__builtin_expect(switched_ != 0, 0))
            for (uint32_t bits = channels; bits != 0; bits &= bits - 1) switchGains(__builtin_ctz(bits));
        if (__builtin_expect(ramp_.channels != 0, 0)) ramp_.channels &= ~channels;
    }
    // The lanes follow only within a group; elsewhere they are brought up to
    // date when the next group begins.
    if (lane > 0) {
        const uint32_t ramping = ramp_.channels & channels;
        for (uint32_t bits = channels & ~ramping; bits != 0; bits &= bits - 1)
            kernels_->spread(gains_, __builtin_ctz(bits), lane, kLanes, lanes_);
        for (uint32_t bits = ramping; __builtin_expect(bits != 0, 0); bits &= bits - 1)
            kernels_->spreadRamp(gains_, ramp_, __builtin_ctz(bits), lane, kLanes, lanes_);
    }
    staleLanes_ |= channels;
}

void MixEngine::rampTo(uint32_t channels, bool master, int lane) {
    const bool switched = switched_ != 0;
    // The gains each channel had at the frame before the change: where
    // its ramp starts from.
    float before[kNumFeeds][kNumChannels];
    for (uint32_t bits = channels; bits != 0; bits &= bits - 1)
        for (int f = 0; f < kNumFeeds; ++f) before[f][__builtin_ctz(bits)] = gainAt(f, __builtin_ctz(bits), lane - 1);
    if (master) computeGains(mixed_, gains_);
    for (uint32_t bits = channels; bits != 0; bits &= bits - 1) {
        const int c = __builtin_ctz(bits);
        if (!master) computeChannelGains(mixed_, c, gains_);
        if (switched) switchGains(c);
        // A ramp from the gains it had to the new ones, from this frame
        // on; a step where nothing moved.
        bool moves = false;
        for (int f = 0; f < kNumFeeds; ++f) {
            ramp_.span[f][c] = before[f][c] - gains_.feed[f][c];
            rampFrom_[f][c] = before[f][c];
            moves = moves || std::memcmp(&before[f][c], &gains_.feed[f][c], sizeof(float)) != 0;
        }
        if (moves) {
            ramp_.remaining[c] = static_cast<float>(rampFrames_ - 1 + lane);
            ramp_.inverse[c] = 1.0f / static_cast<float>(rampFrames_);
            rampLength_[c] = rampFrames_;
            ramp_.channels |= 1u << c;
        } else {
            ramp_.channels &= ~(1u << c);
        }
    }
}

void MixEngine::switchGains(int c) {
    // The switches scale the gains as computed (the factor 1 leaves them as they are).
    scaleChannelGains(c, switchFactor((muted_ >> c) & 1u, (soloed_ >> c) & 1u, (inverted_ >> c) & 1u, soloed_ != 0),
                      gains_);
}

void MixEngine::advanceRamps(int32_t frames) {
    for (uint32_t bits = ramp_.channels; bits != 0; bits &= bits - 1) {
        const int c = __builtin_ctz(bits);
        ramp_.remaining[c] -= static_cast<float>(frames);
        if (ramp_.remaining[c] < 0.0f) ramp_.channels &= ~(1u << c);  // at its target from here on
    }
}

void MixEngine::takeChanges() {
    uint32_t taken[DirtyBits::kWords];
    if (!store_.dirty.take(taken)) return;
    uint32_t strips = 0;
    for (int k = 0; k < DirtyBits::kWords; ++k)
        for (uint32_t bits = taken[k]; bits != 0; bits &= bits - 1) {
            const int index = 32 * k + __builtin_ctz(bits);
            if (absorb(index)) strips |= stripsOf(index);
        }
    recompute(strips, 0);
}

float decibels(float x) {
    // x = 2^e x m with m in [sqrt(1/2), sqrt(2)); log2 m from the series of
    // artanh in s = (m - 1) / (m + 1), |s| < 0.172, to five terms (error
    // below 1e-8, far under a float's own rounding).
    if (!(x > 0.0f)) return -INFINITY;
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    if (bits >= 0x7F800000u) return INFINITY;
    int exponent = static_cast<int>(bits >> 23) - 127;
    if (exponent == -127) return 20.0f * std::log10(x);  // subnormal: never on an audio call's flushed output
    bits = (bits & 0x007FFFFFu) | 0x3F800000u;  // m in [1, 2)
    float m;
    std::memcpy(&m, &bits, sizeof m);
    if (m > 1.41421356f) {
        m *= 0.5f;
        ++exponent;
    }
    const float s = (m - 1.0f) / (m + 1.0f), s2 = s * s;
    const float series = s * (2.0f + s2 * (2.0f / 3.0f + s2 * (2.0f / 5.0f + s2 * (2.0f / 7.0f + s2 * (2.0f / 9.0f)))));
    constexpr float kDbPerLog = 8.68588963807f;  // 20 / ln 10
    constexpr float kDbPerOctave = 6.02059991328f;  // 20 log10 2
    return static_cast<float>(exponent) * kDbPerOctave + series * kDbPerLog;
}

float MixEngine::meterReading(uint32_t bits) const {
    // An infinite sample, or one that is not a number, reads as the ceiling.
    if (bits >= 0x7F800000u) return kMeterLaw.ceilingDb;
    if (bits < floorBits_) return kMeterLaw.floorDb;
    float peak;
    std::memcpy(&peak, &bits, sizeof peak);
    const float db = decibels(peak);
    return db < kMeterLaw.floorDb ? kMeterLaw.floorDb : db > kMeterLaw.ceilingDb ? kMeterLaw.ceilingDb : db;
}

void MixEngine::updateMeters(int32_t frames) {
    for (uint32_t pairs = peaks_.pairs; pairs != 0; pairs &= pairs - 1) {
        const int p = __builtin_ctz(pairs);
        const uint32_t bits = peaks_.peak[p];
        peaks_.peak[p] = 0;
        // While a peak is held the reading is that peak's: the same peak
        // again holds it anew, and one below it, for a block within the
        // hold, leaves it as it is (no decibels needed either way).
        if (meterHold_[p] > 0) {
            if (bits == heldBits_[p]) {
                meterHold_[p] = holdFrames_;
                continue;
            }
            if (bits < heldBits_[p] && meterHold_[p] >= frames) {
                meterHold_[p] -= frames;
                continue;
            }
        }
        const float db = meterReading(bits);
        if (db >= meterDb_[p]) {  // a new peak: shown at once, then held
            meterDb_[p] = db;
            meterHold_[p] = holdFrames_;
            heldBits_[p] = bits;
            continue;
        }
        // Held for what is left of the hold, then falling for the rest of
        // the block, never below this block's own peak.
        float fallen = meterDb_[p];
        if (meterHold_[p] >= frames) {
            meterHold_[p] -= frames;
        } else {
            fallen -= fallPerFrame_ * static_cast<float>(frames - meterHold_[p]);
            meterHold_[p] = 0;
        }
        meterDb_[p] = fallen > db ? fallen : db;
    }
}

bool MixEngine::checkBuffers(const float* const* inputs, float* const* outputs, int32_t frames, bool& overlap) {
    // Hosts pass the same buffers block after block: then the last check
    // stands (and none of them is missing).
    if (frames <= checkedFrames_ && std::memcmp(inputs, checkedInputs_, sizeof checkedInputs_) == 0 &&
        std::memcmp(outputs, checkedOutputs_, sizeof checkedOutputs_) == 0) {
        overlap = checkedOverlap_;
        return true;
    }
    for (int k = 0; k < kNumInputs; ++k)
        if (inputs[k] == nullptr) return false;  // a host that leaves out a buffer gets nothing written
    for (int k = 0; k < kNumOutputs; ++k)
        if (outputs[k] == nullptr) return false;
    overlap = buffersOverlap(inputs, outputs, frames);
    std::memcpy(checkedInputs_, inputs, sizeof checkedInputs_);
    std::memcpy(checkedOutputs_, outputs, sizeof checkedOutputs_);
    checkedFrames_ = frames;
    checkedOverlap_ = overlap;
    return true;
}

}  // namespace tarnvale
