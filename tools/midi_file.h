// Standard MIDI files as frame-stamped events, the tempo map honoured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct TimedMidi {
    int64_t frame;
    uint8_t bytes[3];
};

// Reads every channel message of every track, at the frame where it falls at
// sampleRate, ordered by time (ties keep file order). False with a reason.
bool readMidiFile(const std::string& path, int sampleRate, std::vector<TimedMidi>& events, std::string& error);

}  // namespace tools
