#include "mix_engine.h"

#include <cmath>
#include <cstring>

#include "float_env.h"

namespace tarnvale {

namespace {

constexpr uint8_t kControlChange = 0xB0;

}  // namespace

MixEngine::MixEngine()
    : gains_{},
      staleLanes_(0),
      kernels_(&selectedKernel()),
      floatControl_(audioControlWord()),
      checkedInputs_{},
      checkedOutputs_{},
      checkedFrames_(0),
      checkedOverlap_(true),
      lastCcParameter_(kNoParameter),
      lastCcValue_(0.0f) {
    for (int index = 0; index < kNumParams; ++index) mixed_[index] = defaultValue(index);
    computeGains(mixed_, gains_);
    for (int c = 0; c < kNumChannels; ++c) kernels_->spread(gains_, c, 0, kLanes, lanes_);
}

void MixEngine::process(const float* const* inputs, float* const* outputs, int32_t frames, ControlListener listener,
                        void* context) {
    ScopedAudioFloatEnv floatEnv(floatControl_);
    bool overlap = false;
    if (inputs == nullptr || outputs == nullptr || frames < 1) return;
    if (!checkBuffers(inputs, outputs, frames, overlap)) return;
    const MixKernel kernel = overlap ? kernels_->inPlace : kernels_->separate;
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
            // up to the next event, stopping early for a host's write.
            const auto end = static_cast<int32_t>(next < frames ? next : frames);
            frame += kernel(inputs, outputs, frame, end - frame, gains_, nullptr, &store_.dirty);
            continue;
        }
        // Events closer together: each changes the lanes from its own frame,
        // and the group is mixed at once.
        for (uint32_t c = staleLanes_; c != 0; c &= c - 1) kernels_->spread(gains_, __builtin_ctz(c), 0, kLanes, lanes_);
        staleLanes_ = 0;
        const int32_t end = frames - frame > kLanes ? frame + kLanes : frames;
        for (int32_t f = frame + 1; f < end; ++f)
            if (queue_.count() > 0 && queue_.headDue() <= f) {
                // The value set is taken at once; its dirty bit, taken with
                // the next run's, then finds it already in the gains.
                const int32_t index = applyEvent(listener, context);
                if (index >= 0 && absorb(index)) recompute(1u << stripOf(index), f - frame);
            }
        kernel(inputs, outputs, frame, end - frame, gains_, &lanes_, nullptr);
        frame = end;
    }
    queue_.endBlock(frames);
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

bool MixEngine::absorb(int index) {
    const float value = store_.get(index);
    // One NaN or infinity from a host must not poison every bus.
    const float used = std::isfinite(value) ? value : defaultValue(index);
    if (std::memcmp(&used, &mixed_[index], sizeof used) == 0) return false;
    mixed_[index] = used;
    return true;
}

void MixEngine::recompute(uint32_t strips, int lane) {
    if (strips == 0) return;
    uint32_t channels = strips >> 1;
    if ((strips & 1u) != 0) {  // the master strip reaches every channel
        computeGains(mixed_, gains_);
        channels = (1u << kNumChannels) - 1;
    } else {
        for (uint32_t c = channels; c != 0; c &= c - 1) computeChannelGains(mixed_, __builtin_ctz(c), gains_);
    }
    // The lanes follow only within a group; elsewhere they are brought up to
    // date when the next group begins.
    if (lane > 0)
        for (uint32_t c = channels; c != 0; c &= c - 1) kernels_->spread(gains_, __builtin_ctz(c), lane, kLanes, lanes_);
    staleLanes_ |= channels;
}

void MixEngine::takeChanges() {
    uint32_t taken[DirtyBits::kWords];
    if (!store_.dirty.take(taken)) return;
    uint32_t strips = 0;
    for (int k = 0; k < DirtyBits::kWords; ++k)
        for (uint32_t bits = taken[k]; bits != 0; bits &= bits - 1) {
            const int index = 32 * k + __builtin_ctz(bits);
            if (absorb(index)) strips |= 1u << stripOf(index);
        }
    recompute(strips, 0);
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
