// The files a render writes, named from the effect's own output pin labels:
// the first output pair is the main output, "main"; every other pair takes
// the words its two labels share, as a file name ("Send 1 L" and "Send 1 R"
// give "send1", "Ch.01 L" and "Ch.01 R" give "ch01"). A pair whose name is
// also the name of an input pair (from the input labels the same way:
// "01-1 Ch.01 L" and "01-2 Ch.01 R" give "ch01") is that channel's own
// output; the others are sends.
#pragma once

#include <string>
#include <vector>

#include "host/vst_host.h"

namespace tools {

struct OutputPair {
    enum class Group { Main, Send, Channel };
    std::string name;
    int left = 0, right = 0;  // output pin indices
    Group group = Group::Send;
    int channel = 0;  // for a channel's output: the input pair (1-based) it belongs to
};

// The words two labels share, in order, lower-cased, letters and digits
// only; "" when they share none.
std::string nameFromLabels(const std::string& left, const std::string& right);

// [main thread] Every output pair of the effect, named; an odd last output
// is a pair of itself. A name that comes out empty or twice becomes "outNN"
// (NN the pair's number).
std::vector<OutputPair> outputPairs(vsthost::Plugin& plugin);

// The pairs a render writes: `list` names groups (main, sends, channels)
// and outputs by name, comma-separated; empty means main,sends,channels. A
// channel output is written when its channel has input, when `all` is set,
// or when the list names it. False with a one-line reason.
bool selectOutputs(const std::vector<OutputPair>& pairs, const std::string& list, bool all,
                   const std::vector<int>& fedChannels, std::vector<OutputPair>& chosen, std::string& error);

}  // namespace tools
