// The MIDI queue: a fixed array of the events hosts deliver, applied one per
// frame in queue order by the mix engine. Each event falls due at a frame
// counted from its list's block; events a block could not apply stay queued.
#pragma once

#include <cstdint>

#include "tables.h"

namespace tarnvale {

// One MIDI event as queued for the coming frames.
struct QueuedMidiEvent {
    int32_t deltaFrames;  // frame offset within the block its list came with
    uint8_t status;       // status byte & 0xF0: the message kind
    uint8_t channel;      // status byte & 0x0F: kept, never used
    uint8_t data1;
    uint8_t data2;
};

class MidiQueue {
public:
    MidiQueue() = default;

    // [audio thread] no allocation, no locks. A new list is coming: events of earlier
    // lists that are due at or before the current block's first frame and
    // were not applied stay queued, in order; those not yet due are dropped
    // (a host that queued them past its block has moved on).
    void beginList() {
        if (size_ == 0) {
            head_ = 0;
            return;
        }
        keepDueEvents();
    }
    // [audio thread] no allocation, no locks. Appends one MIDI event of the list,
    // false when the queue is full (the rest of the list is ignored).
    bool append(int32_t deltaFrames, uint8_t statusByte, uint8_t data1, uint8_t data2);

    // [audio thread] Events queued and not yet applied.
    int32_t count() const { return size_; }
    // [audio thread] Frames from the current block's start to the frame at
    // which the head falls due (negative when overdue). Needs count() > 0.
    int64_t headDue() const { return dueAt_[head_] - blockStart_; }
    // [audio thread] The event at `position` behind the head.
    const QueuedMidiEvent& at(int position) const { return events_[head_ + position]; }
    // [audio thread] Takes the head. Needs count() > 0.
    QueuedMidiEvent take() {
        --size_;
        return events_[head_++];
    }
    // [audio thread] The current block of `frames` frames is done.
    void endBlock(int32_t frames) { blockStart_ += frames; }

private:
    // [audio thread] The part of beginList that sorts the queued events.
    void keepDueEvents();

    QueuedMidiEvent events_[kMaxQueuedEvents] = {};
    int64_t dueAt_[kMaxQueuedEvents] = {};  // frame at which each falls due, on the block clock
    int32_t head_ = 0;
    int32_t size_ = 0;
    int64_t blockStart_ = 0;  // the block clock: frames processed before the current block
};

}  // namespace tarnvale
