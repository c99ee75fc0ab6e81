#include "midi_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace tools {

namespace {

// The bytes of a file or chunk, read forward; every read checks first that
// the bytes are there.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    size_t left() const { return size - at; }
    bool has(size_t n) const { return n <= left(); }
    bool u8(uint8_t& v) {
        if (!has(1)) return false;
        v = data[at++];
        return true;
    }
    bool be(int bytes, uint32_t& v) {
        if (!has(static_cast<size_t>(bytes))) return false;
        v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8 | data[at++];
        return true;
    }
    // A variable-length number: seven bits a byte, at most four bytes.
    enum class Varlen { ok, truncated, overlong };
    Varlen varlen(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!u8(b)) return Varlen::truncated;
            v = v << 7 | (b & 0x7F);
            if ((b & 0x80) == 0) return Varlen::ok;
        }
        return Varlen::overlong;
    }
};

struct Timed {
    uint64_t tick;
    uint8_t bytes[3];
};

struct TempoChange {
    uint64_t tick;
    uint32_t microsPerQuarter;
};

std::string hex(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

// One track chunk's events. False with a reason.
bool parseTrack(Reader track, int number, std::vector<Timed>& events, std::vector<TempoChange>& tempos,
                std::string& error) {
    const std::string where = " in track " + std::to_string(number);
    uint64_t tick = 0;
    uint8_t running = 0;
    while (track.left() > 0) {
        uint32_t delta = 0;
        const auto read = track.varlen(delta);
        if (read == Reader::Varlen::overlong) {
            error = "has a time longer than four bytes" + where;
            return false;
        }
        if (read == Reader::Varlen::truncated) {
            error = "ends inside an event's time" + where;
            return false;
        }
        tick += delta;
        uint8_t status;
        if (!track.u8(status)) {
            error = "ends after an event's time" + where;
            return false;
        }
        if (status < 0x80) {  // running status: the byte is the first data byte
            if (running == 0) {
                error = "uses running status before any status byte" + where;
                return false;
            }
            --track.at;
            status = running;
        }
        if (status < 0xF0) {
            running = status;
            const int length = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            Timed event{tick, {status, 0, 0}};
            for (int i = 0; i < length; ++i) {
                if (!track.u8(event.bytes[1 + i])) {
                    error = "ends inside a message" + where;
                    return false;
                }
                if (event.bytes[1 + i] >= 0x80) {
                    error = "has a data byte above 127" + where;
                    return false;
                }
            }
            events.push_back(event);
            continue;
        }
        running = 0;  // SysEx and meta events cancel running status
        uint8_t type = 0;
        if (status == 0xFF && !track.u8(type)) {
            error = "ends inside a meta event" + where;
            return false;
        }
        if (status != 0xF0 && status != 0xF7 && status != 0xFF) {
            error = "has the status byte " + hex(status) + ", which files do not hold," + where;
            return false;
        }
        uint32_t length = 0;
        const auto sized = track.varlen(length);
        if (sized != Reader::Varlen::ok || !track.has(length)) {
            error = std::string(sized == Reader::Varlen::overlong ? "has a length longer than four bytes"
                                                                   : "has an event longer than its track") +
                    where;
            return false;
        }
        if (status == 0xFF && type == 0x51 && length >= 3) {  // tempo: microseconds per quarter note
            const uint8_t* b = track.data + track.at;
            const uint32_t micros = static_cast<uint32_t>(b[0]) << 16 | static_cast<uint32_t>(b[1]) << 8 | b[2];
            if (micros > 0) tempos.push_back({tick, micros});
        }
        track.at += length;
        if (status == 0xFF && type == 0x2F) break;  // end of track
    }
    return true;
}

}  // namespace

bool parseMidiFile(const uint8_t* data, size_t size, int sampleRate, std::vector<TimedMidi>& out, std::string& error) {
    Reader file{data, size};
    uint32_t magic = 0, headerLength = 0, format = 0, tracks = 0, division = 0;
    if (!file.be(4, magic) || magic != 0x4D546864 /* MThd */) {
        error = "is not a standard MIDI file";
        return false;
    }
    if (!file.be(4, headerLength) || headerLength < 6 || !file.has(headerLength)) {
        error = "has a truncated header";
        return false;
    }
    Reader header{data + file.at, headerLength};
    header.be(2, format);
    header.be(2, tracks);
    header.be(2, division);
    file.at += headerLength;
    if (format > 2) {
        error = "is of MIDI file format " + std::to_string(format) + "; formats 0, 1 and 2 exist";
        return false;
    }
    if (tracks == 0) {
        error = "has no tracks";
        return false;
    }
    // Seconds per tick: from the tempo for quarter-note division, fixed for
    // SMPTE time code.
    double smpteSecondsPerTick = 0.0;
    if ((division & 0x8000) != 0) {
        const int fps = -static_cast<int8_t>(division >> 8);
        const int ticksPerFrame = static_cast<int>(division & 0xFF);
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || ticksPerFrame == 0) {
            error = "has an invalid time division";
            return false;
        }
        smpteSecondsPerTick = 1.0 / ((fps == 29 ? 29.97 : fps) * ticksPerFrame);
    } else if (division == 0) {
        error = "has a time division of zero ticks";
        return false;
    }

    std::vector<Timed> events;
    std::vector<TempoChange> tempos;
    uint32_t found = 0;
    while (found < tracks) {
        uint32_t id = 0, length = 0;
        if (!file.be(4, id) || !file.be(4, length)) {
            error = "holds " + std::to_string(found) + " of the " + std::to_string(tracks) + " tracks its header names";
            return false;
        }
        if (!file.has(length)) {
            error = "has a track that claims " + std::to_string(length) + " bytes where " + std::to_string(file.left()) +
                    " are left";
            return false;
        }
        if (id == 0x4D54726B /* MTrk */) {
            if (!parseTrack(Reader{data + file.at, length}, static_cast<int>(found + 1), events, tempos, error))
                return false;
            ++found;
        }  // other chunks are skipped, as the format allows
        file.at += length;
    }

    // Ticks to frames along the tempo map (120 beats a minute until the first change).
    std::stable_sort(events.begin(), events.end(), [](const Timed& a, const Timed& b) { return a.tick < b.tick; });
    std::stable_sort(tempos.begin(), tempos.end(), [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    out.clear();
    out.reserve(events.size());
    size_t nextTempo = 0;
    uint64_t tempoTick = 0;
    double tempoSeconds = 0.0, secondsPerTick = smpteSecondsPerTick > 0 ? smpteSecondsPerTick : 0.5 / division;
    for (const Timed& e : events) {
        while (smpteSecondsPerTick == 0 && nextTempo < tempos.size() && tempos[nextTempo].tick <= e.tick) {
            tempoSeconds += static_cast<double>(tempos[nextTempo].tick - tempoTick) * secondsPerTick;
            tempoTick = tempos[nextTempo].tick;
            secondsPerTick = tempos[nextTempo].microsPerQuarter * 1e-6 / division;
            ++nextTempo;
        }
        const double seconds = tempoSeconds + static_cast<double>(e.tick - tempoTick) * secondsPerTick;
        const double frame = seconds * sampleRate;
        TimedMidi m{};
        m.frame = frame < 9.0e18 ? std::llround(frame) : INT64_MAX;
        std::copy(e.bytes, e.bytes + 3, m.bytes);
        out.push_back(m);
    }
    return true;
}

bool readMidiFile(const std::string& path, int sampleRate, std::vector<TimedMidi>& events, std::string& error) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.good()) {
        error = "cannot read " + path;
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxMidiFileBytes) {
        error = path + " is larger than a MIDI file of " + std::to_string(kMaxMidiFileBytes >> 20) + " MB";
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        error = "cannot read " + path;
        return false;
    }
    if (!parseMidiFile(bytes.data(), bytes.size(), sampleRate, events, error)) {
        error = path + " " + error;
        return false;
    }
    return true;
}

}  // namespace tools
