// Standard MIDI files built byte by byte, well-formed or damaged on purpose.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace miditest {

using Bytes = std::vector<uint8_t>;

inline Bytes varlen(uint32_t v) {
    Bytes out{static_cast<uint8_t>(v & 0x7F)};
    while ((v >>= 7) != 0) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (v & 0x7F)));
    return out;
}

// A track's events: each a delta time and the bytes that follow it.
struct Track {
    Bytes bytes;
    Track& event(uint32_t delta, std::initializer_list<uint8_t> data) {
        const Bytes time = varlen(delta);
        bytes.insert(bytes.end(), time.begin(), time.end());
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    Track& tempo(uint32_t delta, uint32_t microsPerQuarter) {
        return event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsPerQuarter >> 16),
                             static_cast<uint8_t>(microsPerQuarter >> 8), static_cast<uint8_t>(microsPerQuarter)});
    }
    Track& end() { return event(0, {0xFF, 0x2F, 0x00}); }
};

inline void be(Bytes& out, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The header (format, division) and the tracks as chunks.
inline Bytes file(uint16_t format, uint16_t division, const std::vector<Track>& tracks) {
    Bytes out{'M', 'T', 'h', 'd'};
    be(out, 6, 4);
    be(out, format, 2);
    be(out, static_cast<uint32_t>(tracks.size()), 2);
    be(out, division, 2);
    for (const auto& t : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        be(out, static_cast<uint32_t>(t.bytes.size()), 4);
        out.insert(out.end(), t.bytes.begin(), t.bytes.end());
    }
    return out;
}

}  // namespace miditest
