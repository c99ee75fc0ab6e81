#include "midi_file.h"

#include <smf.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

namespace tools {

namespace {

// libsmf reports through GLib's log; keep its messages off the terminal and
// let the caller give one line of its own.
void quietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

struct LogSilencer {
    LogSilencer() : previous(g_log_set_default_handler(quietLog, nullptr)) {}
    ~LogSilencer() { g_log_set_default_handler(previous, nullptr); }
    GLogFunc previous;
};

}  // namespace

bool readMidiFile(const std::string& path, int sampleRate, std::vector<TimedMidi>& events, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file.good()) {
        error = "cannot read " + path;
        return false;
    }
    char magic[4] = {};
    file.read(magic, sizeof magic);
    if (!file || std::string(magic, 4) != "MThd") {
        error = path + " is not a standard MIDI file";
        return false;
    }
    LogSilencer silence;
    smf_t* smf = smf_load(path.c_str());
    if (smf == nullptr) {
        error = path + " is not a standard MIDI file";
        return false;
    }
    events.clear();
    while (smf_event_t* event = smf_get_next_event(smf)) {
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 1) continue;
        const unsigned char status = event->midi_buffer[0];
        if (status < 0x80 || status >= 0xF0) continue;  // channel messages only
        TimedMidi m{};
        m.frame = std::llround(event->time_seconds * sampleRate);
        for (int i = 0; i < 3 && i < event->midi_buffer_length; ++i) m.bytes[i] = event->midi_buffer[i];
        events.push_back(m);
    }
    smf_delete(smf);
    std::stable_sort(events.begin(), events.end(), [](const TimedMidi& a, const TimedMidi& b) { return a.frame < b.frame; });
    return true;
}

}  // namespace tools
