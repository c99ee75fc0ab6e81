// Standard MIDI files as frame-stamped events, the tempo map honoured. A
// reader of our own: every length in the file is checked against the bytes
// it has, so a damaged or hostile file gives a reason, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct TimedMidi {
    int64_t frame;
    uint8_t bytes[3];
};

// The channel messages of every track of a standard MIDI file held in
// memory (header, tracks, variable-length numbers, running status, tempo
// meta events; SysEx and other meta events skipped), at the frame where
// each falls at sampleRate, ordered by time (ties keep file order). False
// with a one-line reason when the file is not a well-formed MIDI file.
bool parseMidiFile(const uint8_t* data, size_t size, int sampleRate, std::vector<TimedMidi>& events,
                   std::string& error);

// The same for a file on disk (at most kMaxMidiFileBytes), the reason
// naming the file.
constexpr size_t kMaxMidiFileBytes = 16u << 20;
bool readMidiFile(const std::string& path, int sampleRate, std::vector<TimedMidi>& events, std::string& error);

}  // namespace tools
