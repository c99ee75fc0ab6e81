// The level plot, end to end through the command line: what it marks (MIDI
// moves once, in a lane of their own; where each file clipped), that
// nothing is drawn twice in a column, the time axis, the scale's labels,
// and the size of a long render's plot.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "level_plot.h"
#include "measure.h"

namespace {

using namespace clitest;

// Every element starting with `start` in text, whole (up to its closing
// "/>" or "</tag>").
std::vector<std::string> elements(const std::string& text, const std::string& start) {
    std::vector<std::string> found;
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        const std::string tag = start.substr(1, start.find(' ') - 1);
        const size_t selfClosed = text.find("/>", at), closed = text.find("</" + tag + ">", at);
        const size_t next = text.find('<', at + 1);
        const size_t end = selfClosed != std::string::npos && selfClosed < next ? selfClosed + 2 : closed + tag.size() + 3;
        found.push_back(text.substr(at, end - at));
    }
    return found;
}

std::string attribute(const std::string& element, const std::string& name) {
    const size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 3;
    return element.substr(from, element.find('"', from) - from);
}

std::string textOf(const std::string& element) {
    const size_t from = element.find('>') + 1;
    return element.substr(from, element.find('<', from) - from);
}

// Each output's lane, by name.
std::vector<std::pair<std::string, std::string>> lanes(const std::string& svg) {
    std::vector<std::pair<std::string, std::string>> found;
    const std::string start = "<g class=\"lane\" data-output=\"";
    for (size_t at = svg.find(start); at != std::string::npos; at = svg.find(start, at + 1)) {
        const size_t name = at + start.size();
        found.emplace_back(svg.substr(name, svg.find('"', name) - name), svg.substr(at, svg.find("</g>", at) - at));
    }
    return found;
}

// The x of each point a trace's path data visits, from its absolute start
// and its relative steps (l dx dy ..., h dx).
std::vector<double> traceXs(const std::string& d) {
    std::vector<double> xs;
    std::vector<double> numbers;
    char command = 0;
    auto take = [&](char c) {
        if (c == 'M' && numbers.size() == 2) xs.push_back(numbers[0]);
        if (c == 'l')
            for (size_t k = 0; k + 1 < numbers.size(); k += 2) xs.push_back(xs.back() + numbers[k]);
        if (c == 'h')
            for (double n : numbers) xs.push_back(xs.back() + n);
        numbers.clear();
    };
    for (size_t i = 0; i < d.size();) {
        const char c = d[i];
        if (c == 'M' || c == 'l' || c == 'h') {
            take(command);
            command = c;
            ++i;
        } else if (c == ' ') {
            ++i;
        } else {
            size_t used = 0;
            numbers.push_back(std::stod(d.substr(i), &used));
            i += used;
        }
    }
    take(command);
    return xs;
}

class Plot : public Cli {};

// A three-minute render of all 19 outputs, with a MIDI move every 0.1 s and
// a main that clips in stretches: under 300 KB, the moves marked once a
// column in the MIDI lane alone, each trace a point a column, the clipping
// marked in main's lane only, the time axis in round minutes and seconds.
TEST_F(Plot, ALongRenderOfEveryOutputStaysSmallAndMarksWhatHappened) {
    constexpr int kRate = 8000, kSeconds = 180;
    std::mt19937 random(24);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> levels(kSeconds * 10);  // a level for each tenth of a second
    for (auto& l : levels) l = 0.02f + 0.9f * (noise(random) * 0.5f + 0.5f);
    const std::string stem = writeFile("stem.wav", 2, kRate, static_cast<int64_t>(kSeconds) * kRate,
                                       SF_FORMAT_WAV | SF_FORMAT_PCM_16, [&](size_t i, int) {
                                           return 0.12f * levels[i / (kRate / 10)] * noise(random);
                                       });
    miditest::Track track;
    const int kMoves = kSeconds * 10 - 1;
    for (int k = 0; k < kMoves; ++k) track.event(192, {0xB0, 118, static_cast<uint8_t>(40 + k % 2)});
    track.end();
    const std::string midi = writeBytes("moves.mid", miditest::file(0, 960, {track}));  // 1,920 ticks a second
    std::vector<std::string> args{"render", "--out", dir + "/out", "--all", "--midi", midi, "--plot", dir + "/levels.svg"};
    for (int c = 1; c <= 16; ++c) args.insert(args.end(), {"--in", std::to_string(c) + "=" + stem});
    const Outcome r = run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string svg = slurp(dir + "/levels.svg");
    EXPECT_LT(svg.size(), 300u * 1024) << "bytes";
    RecordProperty("plot_bytes", static_cast<int>(svg.size()));

    // MIDI: one mark for each column a move fell in, in the MIDI lane alone.
    const int64_t frames = static_cast<int64_t>(kSeconds) * kRate;
    std::set<int64_t> columns;
    for (int k = 1; k <= kMoves; ++k) columns.insert(static_cast<int64_t>(k) * kRate / 10 * tools::kPlotColumns / frames);
    const auto midiPaths = elements(svg, "<path class=\"midi\"");
    ASSERT_EQ(midiPaths.size(), 1u);
    const std::string marks = attribute(midiPaths[0], "d");
    std::vector<double> markXs;
    for (size_t at = marks.find('M'); at != std::string::npos; at = marks.find('M', at + 1))
        markXs.push_back(std::stod(marks.substr(at + 1)));
    EXPECT_EQ(markXs.size(), columns.size());
    EXPECT_TRUE(std::adjacent_find(markXs.begin(), markXs.end(), [](double a, double b) { return b - a < 1.5 - 1e-9; }) ==
                markXs.end())
        << "two marks in one column";

    const auto found = lanes(svg);
    ASSERT_EQ(found.size(), 19u);
    for (const auto& [name, lane] : found) {
        EXPECT_EQ(lane.find("midi"), std::string::npos) << name << ": MIDI drawn across a lane";
        // Two traces, the solid left one under the dashed right one (so
        // where they are equal both show), a point a column, always moving
        // right.
        const auto left = elements(lane, "<path class=\"left\""), right = elements(lane, "<path class=\"right\"");
        ASSERT_EQ(left.size(), 1u) << name;
        ASSERT_EQ(right.size(), 1u) << name;
        EXPECT_LT(lane.find("class=\"left\""), lane.find("class=\"right\"")) << name;
        EXPECT_EQ(attribute(left[0], "stroke-dasharray"), "") << name;
        EXPECT_NE(attribute(right[0], "stroke-dasharray"), "") << name << ": where the sides are equal the left must show";
        for (const auto& trace : {left[0], right[0]}) {
            const std::vector<double> xs = traceXs(attribute(trace, "d"));
            ASSERT_GE(xs.size(), 2u) << name;
            EXPECT_NEAR(xs.front(), 110.8, 0.06) << name;
            EXPECT_NEAR(xs.back() - xs.front(), (tools::kPlotColumns - 1) * 1.5, 0.5) << name;
            for (size_t k = 1; k < xs.size(); ++k) ASSERT_GE(xs[k] - xs[k - 1], 1.5 - 0.06) << name << " point " << k;
        }
        // Clipping: only the main bus clips, in stretches, each marked once.
        const auto clips = elements(lane, "<rect class=\"clip\"");
        if (name != "main") {
            EXPECT_TRUE(clips.empty()) << name;
            continue;
        }
        EXPECT_GT(clips.size(), 10u) << "main clips in many stretches";
        double end = 0.0;
        for (const auto& clip : clips) {
            const double x = std::stod(attribute(clip, "x"));
            EXPECT_GE(x, end + 1.5 - 0.06) << "clip marks that touch or overlap";
            end = x + std::stod(attribute(clip, "width"));
        }
    }
    std::vector<std::string> ticks;
    for (const auto& t : elements(svg, "<text class=\"tick\"")) ticks.push_back(textOf(t));
    EXPECT_EQ(ticks, (std::vector<std::string>{"0:00", "0:30", "1:00", "1:30", "2:00", "2:30", "3:00"}));
}

// A float file above full scale: the scale reaches over 0 dBFS, and no two
// of its labels crowd each other; no clipping is marked, since nothing was
// clipped; one MIDI move is one mark.
TEST_F(Plot, ScaleLabelsHaveRoomAndFloatFilesMarkNoClipping) {
    const std::string input = writeFile("hot.wav", 2, 48000, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT, [](size_t i, int c) {
        return (c == 0 ? 0.9f : 0.5f) * static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
    });
    miditest::Track track;
    track.event(960, {0xB0, 118, 20}).end();
    const std::string midi = writeBytes("move.mid", miditest::file(0, 960, {track}));
    std::vector<std::string> args{"render", "--out", dir + "/out", "--midi", midi, "--plot", dir + "/levels.svg"};
    for (int c = 1; c <= 4; ++c) args.insert(args.end(), {"--in", std::to_string(c) + "=" + input});
    const Outcome r = run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string svg = slurp(dir + "/levels.svg");
    EXPECT_EQ(elements(svg, "<rect class=\"clip\"").size(), 0u);
    const auto midiPaths = elements(svg, "<path class=\"midi\"");
    ASSERT_EQ(midiPaths.size(), 1u);
    EXPECT_EQ(std::count(midiPaths[0].begin(), midiPaths[0].end(), 'M'), 1);
    for (const auto& [name, lane] : lanes(svg)) {
        std::vector<double> ys;
        std::vector<std::string> labels;
        for (const auto& label : elements(lane, "<text class=\"scale\"")) {
            ys.push_back(std::stod(attribute(label, "y")));
            labels.push_back(textOf(label));
        }
        for (const char* expected : {"0", "-20", "-40", "-60"})
            EXPECT_NE(std::find(labels.begin(), labels.end(), expected), labels.end()) << name << " " << expected;
        std::sort(ys.begin(), ys.end());
        for (size_t k = 1; k < ys.size(); ++k) EXPECT_GE(ys[k] - ys[k - 1], 12.0) << name << ": labels crowd";
    }
    EXPECT_NE(svg.find(">left</text>"), std::string::npos);
    EXPECT_NE(svg.find(">right</text>"), std::string::npos);
    std::vector<std::string> ticks;
    for (const auto& t : elements(svg, "<text class=\"tick\"")) ticks.push_back(textOf(t));
    EXPECT_EQ(ticks, (std::vector<std::string>{"0.0", "0.1", "0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9", "1.0"}));
}

// Round steps, at most ten of them, one format across the axis.
TEST(TimeTicks, RoundStepsInOneFormat) {
    const struct {
        double seconds;
        std::vector<std::string> texts;
    } cases[] = {
        {0.0, {"0"}},
        {0.33, {"0.00", "0.05", "0.10", "0.15", "0.20", "0.25", "0.30"}},
        {3.0, {"0.0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"}},
        {3.25, {"0.0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"}},
        {45.0, {"0", "5", "10", "15", "20", "25", "30", "35", "40", "45"}},
        {126.0, {"0:00", "0:15", "0:30", "0:45", "1:00", "1:15", "1:30", "1:45", "2:00"}},
        {600.0, {"0:00", "1:00", "2:00", "3:00", "4:00", "5:00", "6:00", "7:00", "8:00", "9:00", "10:00"}},
        {5400.0, {"0:00:00", "0:10:00", "0:20:00", "0:30:00", "0:40:00", "0:50:00", "1:00:00", "1:10:00", "1:20:00", "1:30:00"}},
        {86400.0, {"0:00:00", "3:00:00", "6:00:00", "9:00:00", "12:00:00", "15:00:00", "18:00:00", "21:00:00", "24:00:00"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> texts;
        for (const auto& t : tools::timeTicks(c.seconds)) texts.push_back(t.text);
        EXPECT_EQ(texts, c.texts) << c.seconds;
    }
}

}  // namespace
