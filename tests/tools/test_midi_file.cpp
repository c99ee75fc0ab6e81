// The standard MIDI file reader on bytes in memory: timing along the tempo
// map, running status, skipped SysEx and meta events, and a reason (never a
// crash) for every kind of damage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi_bytes.h"
#include "midi_file.h"

namespace {

using namespace miditest;
using tools::TimedMidi;

std::vector<TimedMidi> parse(const Bytes& bytes, int rate, std::string& error) {
    std::vector<TimedMidi> events;
    EXPECT_TRUE(tools::parseMidiFile(bytes.data(), bytes.size(), rate, events, error)) << error;
    return events;
}

TEST(MidiFile, TimesFollowTheTempoMapAcrossTracks) {
    // 960 ticks a quarter. Track 1 holds the tempo map: 120 bpm, then 60 bpm
    // from tick 1920 (one second). Track 2 holds the messages.
    Track tempo;
    tempo.tempo(0, 500000).tempo(1920, 1000000).end();
    Track notes;
    notes.event(960, {0xB4, 118, 0})          // tick 960: 0.5 s
        .event(480, {0x93, 60, 100})           // 1440: 0.75 s
        .event(0, {64, 0})                     // running status: a second note on, same time
        .event(0, {0xF0, 0x03, 1, 2, 0xF7})    // SysEx: skipped
        .event(0, {0xFF, 0x01, 0x02, 'h', 'i'})  // text: skipped
        .event(960, {0xBF, 118, 127})          // 2400: 1 s + 480 ticks at 60 bpm = 1.5 s
        .event(0, {0xC2, 5})                   // a program change: one data byte
        .end();
    std::string error;
    const auto events = parse(file(1, 960, {tempo, notes}), 48000, error);
    ASSERT_EQ(events.size(), 5u);
    const struct {
        int64_t frame;
        uint8_t status, data1, data2;
    } expected[] = {{24000, 0xB4, 118, 0}, {36000, 0x93, 60, 100}, {36000, 0x93, 64, 0}, {72000, 0xBF, 118, 127},
                    {72000, 0xC2, 5, 0}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(events[i].frame, expected[i].frame) << i;
        EXPECT_EQ(events[i].bytes[0], expected[i].status) << i;
        EXPECT_EQ(events[i].bytes[1], expected[i].data1) << i;
        EXPECT_EQ(events[i].bytes[2], expected[i].data2) << i;
    }
}

TEST(MidiFile, SmpteTimeCode) {
    // 25 frames a second, 40 ticks a frame: 1000 ticks a second.
    Track t;
    t.event(250, {0xB0, 7, 1}).end();
    std::string error;
    const auto events = parse(file(0, static_cast<uint16_t>((0x100 - 25) << 8 | 40), {t}), 44100, error);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].frame, 11025);
}

// Every kind of damage gives a reason.
TEST(MidiFile, DamagedFilesGiveAReason) {
    Track good;
    good.event(0, {0xB0, 1, 2}).end();
    Bytes truncatedHeader = file(0, 96, {good});
    truncatedHeader.resize(10);
    Bytes longTrack = file(0, 96, {good});
    longTrack[21] = 0x40;  // the track claims far more bytes than follow
    Track overlong;
    overlong.event(0, {0xB0, 1, 2});
    overlong.bytes.insert(overlong.bytes.end(), {0x81, 0x80, 0x80, 0x80, 0x00, 0xB0, 1, 2});
    Track noStatus;
    noStatus.event(0, {0x40, 0x40});
    Track metaPastEnd;
    metaPastEnd.event(0, {0xFF, 0x51, 0x7F, 0x07});
    Track sysexPastEnd;
    sysexPastEnd.event(0, {0xF0, 0x50, 0x01});
    Track cutMessage;
    cutMessage.event(0, {0x90, 60});
    Track badStatus;
    badStatus.event(0, {0xF8});
    Track highData;
    highData.event(0, {0x90, 0x80, 0x10});
    Bytes noTracks = file(1, 96, {});
    Bytes missingTrack = file(1, 96, {good});
    missingTrack[11] = 2;  // the header names two tracks; one follows
    Bytes zeroDivision = file(0, 0, {good});
    Bytes wrongMagic = file(0, 96, {good});
    wrongMagic[0] = 'X';
    const struct {
        const char* what;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"truncated header", truncatedHeader, "truncated header"},
        {"track longer than the file", longTrack, "claims"},
        {"over-long variable-length number", file(0, 96, {overlong}), "longer than four bytes"},
        {"running status without a status", file(0, 96, {noStatus}), "running status"},
        {"meta length past the end", file(0, 96, {metaPastEnd}), "longer than its track"},
        {"SysEx length past the end", file(0, 96, {sysexPastEnd}), "longer than its track"},
        {"message cut short", file(0, 96, {cutMessage}), "ends inside a message"},
        {"status files do not hold", file(0, 96, {badStatus}), "0xF8"},
        {"data byte above 127", file(0, 96, {highData}), "above 127"},
        {"zero tracks", noTracks, "no tracks"},
        {"fewer tracks than the header says", missingTrack, "1 of the 2 tracks"},
        {"zero division", zeroDivision, "zero ticks"},
        {"not a MIDI file", wrongMagic, "not a standard MIDI file"},
        {"empty", Bytes{}, "not a standard MIDI file"},
    };
    for (const auto& c : cases) {
        std::vector<TimedMidi> events;
        std::string error;
        EXPECT_FALSE(tools::parseMidiFile(c.bytes.data(), c.bytes.size(), 48000, events, error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

}  // namespace
