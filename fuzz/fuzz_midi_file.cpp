// Fuzz target: any bytes as a standard MIDI file. The reader must give a
// reason or events, never read past the bytes it has (AddressSanitizer
// watches), loop forever or hand back events out of time order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/midi_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<tools::TimedMidi> events;
    std::string error;
    const bool read = tools::parseMidiFile(data, size, 48000, events, error);
    if (read != error.empty()) std::abort();  // a failure needs a reason, a success none
    if (!read) return 0;
    for (size_t i = 1; i < events.size(); ++i)
        if (events[i].frame < events[i - 1].frame) std::abort();
    for (const auto& e : events)
        if (e.bytes[0] < 0x80 || e.bytes[0] >= 0xF0 || e.bytes[1] >= 0x80 || e.bytes[2] >= 0x80) std::abort();
    return 0;
}
