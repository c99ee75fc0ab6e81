// Rendering audio through an effect offline: sources in, one stereo file per
// output pair out, with a level table and an optional level plot.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "midi_file.h"

namespace tools {

// One stereo source feeding input pair `channel` (1-based).
struct StereoSource {
    int channel = 0;
    std::vector<float> left, right;
};

struct RenderPlan {
    std::string pluginPath;
    std::vector<StereoSource> sources;
    int sampleRate = 44100;
    int format = 0;  // libsndfile format word of the written files
    int blockSize = 512;
    double tailSeconds = 0.0;
    bool allOutputs = false;  // also channels that had no input
    std::vector<std::string> settings;  // NAME=VALUE, applied before rendering
    std::vector<TimedMidi> events;      // played into the effect at their frames
    std::string outDir;
    std::string plotPath;  // empty: no plot
};

// Loads the effect, applies the settings, renders, writes the files under
// temporary names and renames them once all are complete, then prints the
// level table. Returns the exit code; every failure is one line on err.
int executePlan(const RenderPlan& plan, std::ostream& out, std::ostream& err);

// What the command line gives for `render`.
struct RenderOptions {
    std::string pluginPath;
    std::vector<std::string> inputs;  // N=FILE
    std::string outDir;
    int blockSize = 512;
    int sampleRate = 0;  // 0: from the inputs
    std::string format;  // empty: the inputs' format
    double tailSeconds = 0.0;
    bool allOutputs = false;
    std::vector<std::string> settings;
    std::string midiFile;
    std::string plotPath;
};

// Reads the inputs and the MIDI file, then executes the plan.
int runRender(const RenderOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tools
