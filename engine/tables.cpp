// The pin table: every audio pin's label, as hosts show it, and its LV2 port
// symbol, in the numbering of channelInput, busOutput and directOutput.
#include "tables.h"

namespace tarnvale {

namespace {

constexpr bool controllersAreDistinct() {
    int mapped = 0;
    for (int cc = 0; cc < 256; ++cc) mapped += kParameterForController[cc] != kNoParameter;
    return mapped == kNumParams;
}
static_assert(controllersAreDistinct(), "two parameters share a controller number");

// The buses' pins come in Bus order, each pair left then right, and the
// feeds cover every bus side once.
constexpr bool feedsCoverTheBuses() {
    int covered = 0;
    for (int f = 0; f < kNumFeeds; ++f) covered |= 1 << kFeedOutput[f];
    return covered == (1 << kFirstDirectOutput) - 1 && kFeedOutput[kDirectFeed[kLeft]] == busOutput(kMainBus, kLeft) &&
           kFeedOutput[kDirectFeed[kRight]] == busOutput(kMainBus, kRight);
}
static_assert(feedsCoverTheBuses(), "the feeds and the bus outputs disagree");

constexpr bool busFeedsMatchTheirOutputs() {
    for (int b = 0; b < kNumBuses; ++b)
        for (Side side : {kLeft, kRight})
            if (kFeedOutput[kBusFeed[b][side]] != busOutput(static_cast<Bus>(b), side)) return false;
    return true;
}
static_assert(busFeedsMatchTheirOutputs(), "a bus's feeds are not its outputs' feeds");

}  // namespace

const PinInfo kInputPins[kNumInputs] = {
    {"01-1 Ch.01 L", "in01_l"}, {"01-2 Ch.01 R", "in01_r"},
    {"02-1 Ch.02 L", "in02_l"}, {"02-2 Ch.02 R", "in02_r"},
    {"03-1 Ch.03 L", "in03_l"}, {"03-2 Ch.03 R", "in03_r"},
    {"04-1 Ch.04 L", "in04_l"}, {"04-2 Ch.04 R", "in04_r"},
    {"05-1 Ch.05 L", "in05_l"}, {"05-2 Ch.05 R", "in05_r"},
    {"06-1 Ch.06 L", "in06_l"}, {"06-2 Ch.06 R", "in06_r"},
    {"07-1 Ch.07 L", "in07_l"}, {"07-2 Ch.07 R", "in07_r"},
    {"08-1 Ch.08 L", "in08_l"}, {"08-2 Ch.08 R", "in08_r"},
    {"09-1 Ch.09 L", "in09_l"}, {"09-2 Ch.09 R", "in09_r"},
    {"10-1 Ch.10 L", "in10_l"}, {"10-2 Ch.10 R", "in10_r"},
    {"11-1 Ch.11 L", "in11_l"}, {"11-2 Ch.11 R", "in11_r"},
    {"12-1 Ch.12 L", "in12_l"}, {"12-2 Ch.12 R", "in12_r"},
    {"13-1 Ch.13 L", "in13_l"}, {"13-2 Ch.13 R", "in13_r"},
    {"14-1 Ch.14 L", "in14_l"}, {"14-2 Ch.14 R", "in14_r"},
    {"15-1 Ch.15 L", "in15_l"}, {"15-2 Ch.15 R", "in15_r"},
    {"16-1 Ch.16 L", "in16_l"}, {"16-2 Ch.16 R", "in16_r"},
};

const PinInfo kOutputPins[kNumOutputs] = {
    {"Output L", "main_l"}, {"Output R", "main_r"},
    {"Send 1 L", "send1_l"}, {"Send 1 R", "send1_r"},
    {"Send 2 L", "send2_l"}, {"Send 2 R", "send2_r"},
    {"Ch.01 L", "ch01_l"}, {"Ch.01 R", "ch01_r"},
    {"Ch.02 L", "ch02_l"}, {"Ch.02 R", "ch02_r"},
    {"Ch.03 L", "ch03_l"}, {"Ch.03 R", "ch03_r"},
    {"Ch.04 L", "ch04_l"}, {"Ch.04 R", "ch04_r"},
    {"Ch.05 L", "ch05_l"}, {"Ch.05 R", "ch05_r"},
    {"Ch.06 L", "ch06_l"}, {"Ch.06 R", "ch06_r"},
    {"Ch.07 L", "ch07_l"}, {"Ch.07 R", "ch07_r"},
    {"Ch.08 L", "ch08_l"}, {"Ch.08 R", "ch08_r"},
    {"Ch.09 L", "ch09_l"}, {"Ch.09 R", "ch09_r"},
    {"Ch.10 L", "ch10_l"}, {"Ch.10 R", "ch10_r"},
    {"Ch.11 L", "ch11_l"}, {"Ch.11 R", "ch11_r"},
    {"Ch.12 L", "ch12_l"}, {"Ch.12 R", "ch12_r"},
    {"Ch.13 L", "ch13_l"}, {"Ch.13 R", "ch13_r"},
    {"Ch.14 L", "ch14_l"}, {"Ch.14 R", "ch14_r"},
    {"Ch.15 L", "ch15_l"}, {"Ch.15 R", "ch15_r"},
    {"Ch.16 L", "ch16_l"}, {"Ch.16 R", "ch16_r"},
};

}  // namespace tarnvale
