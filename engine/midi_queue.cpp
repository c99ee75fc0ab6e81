#include "midi_queue.h"

namespace tarnvale {

void MidiQueue::beginList() {
    int32_t kept = 0;
    for (int32_t r = head; r < head + size; ++r) {
        if (dueAt[r] > blockStart) continue;  // not yet due: dropped
        events[kept] = events[r];
        dueAt[kept] = dueAt[r];
        ++kept;
    }
    head = 0;
    size = kept;
}

bool MidiQueue::append(int32_t deltaFrames, uint8_t statusByte, uint8_t data1, uint8_t data2) {
    const int32_t at = head + size;
    if (at >= kMaxQueuedEvents) return false;
    QueuedMidiEvent& entry = events[at];
    entry.deltaFrames = deltaFrames;
    entry.status = statusByte & 0xF0;
    entry.channel = statusByte & 0x0F;
    entry.data1 = data1;
    entry.data2 = data2;
    dueAt[at] = blockStart + deltaFrames;
    ++size;
    return true;
}

}  // namespace tarnvale
