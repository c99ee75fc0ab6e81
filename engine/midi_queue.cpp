#include "midi_queue.h"

namespace tarnvale {

void MidiQueue::keepDueEvents() {
    int32_t kept = 0;
    for (int32_t r = head_; r < head_ + size_; ++r) {
        if (dueAt_[r] > blockStart_) continue;  // not yet due: dropped
        events_[kept] = events_[r];
        dueAt_[kept] = dueAt_[r];
        ++kept;
    }
    head_ = 0;
    size_ = kept;
}

bool MidiQueue::append(int32_t deltaFrames, uint8_t statusByte, uint8_t data1, uint8_t data2) {
    const int32_t at = head_ + size_;
    if (at >= kMaxQueuedEvents) return false;
    QueuedMidiEvent& entry = events_[at];
    entry.deltaFrames = deltaFrames;
    entry.status = statusByte & 0xF0;
    entry.channel = statusByte & 0x0F;
    entry.data1 = data1;
    entry.data2 = data2;
    dueAt_[at] = blockStart_ + deltaFrames;
    ++size_;
    return true;
}

}  // namespace tarnvale
