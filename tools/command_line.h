// What tarnvale-host's command line needs besides its option parser:
// argument files, the nearest of a set of words, numbers read with a
// message that shows the form expected, and input files checked before
// anything is loaded.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tools {

// Replaces every argument "@FILE" with the arguments FILE holds, one per
// line. Blank lines and lines starting with # are skipped, and each line is
// trimmed. A line that starts with "-" and holds a space is an option and
// its value ("--set Ch.03 Volume=64%"), split at the first run of spaces. A
// value wrapped whole in a pair of double or single quotes loses them, as in
// a shell; nothing else is unquoted. Files may name further files, up to 8
// deep. False with a one-line reason.
bool expandArgumentFiles(std::vector<std::string>& args, std::string& error);

// The number of single-character edits (ignoring case) that turn a into b.
size_t editDistance(const std::string& a, const std::string& b);

// The candidate nearest to typed (ignoring case), or empty when none is
// near enough to be what was meant.
std::string nearestWord(const std::string& typed, const std::vector<std::string>& candidates);

// Whole numbers and seconds as an option takes them. False with a message
// naming the option, the form and an example ("--rate takes ...").
bool parseWholeNumber(const std::string& option, const std::string& text, const std::string& form,
                      const std::string& example, int& value, std::string& error);
bool parseSeconds(const std::string& option, const std::string& text, double& value, std::string& error);

// A file the command line names (an input, the MIDI file, an argument
// file): false with a plain reason when it does not exist, is a folder or
// cannot be read. what says what it is ("the input for channel 1").
bool checkReadable(const std::string& what, const std::string& path, std::string& error);

// Whether a name looks like an audio file (by its extension).
bool looksLikeAudio(const std::string& path);

}  // namespace tools
