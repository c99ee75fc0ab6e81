// Rendering audio through an effect offline, in stages: plan (load the
// effect, name the outputs, check every file to be written, lock the
// folders), open (temporary files, meters, the worker threads), render
// (blocks through the effect, fed to the workers through a bounded queue),
// measure (the workers' figures) and commit (every file to its final name,
// or none). Memory does not grow with the length of the render.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "audio_io.h"
#include "exit_codes.h"
#include "midi_file.h"

namespace tools {

// Bounds of the command line's numbers.
constexpr int kMaxBlock = 16384;
constexpr double kMaxTailSeconds = 3600.0;
constexpr double kMaxRenderSeconds = 24.0 * 3600.0;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
constexpr int kMaxJobs = 64;

// One source feeding input pair `channel` (1-based).
struct RenderInput {
    int channel = 0;
    std::unique_ptr<Source> source;
    std::string file;       // empty for generated sources
    std::string generated;  // for a generated source, what it is
    int rate = 0;      // the file's own rate
    bool converted = false;
};

struct RenderPlan {
    std::string pluginPath;
    std::vector<RenderInput> inputs;
    int sampleRate = 44100;
    int format = 0;  // libsndfile format word of the written files
    int blockSize = 512;
    double tailSeconds = 0.0;
    bool allOutputs = false;            // also channels that had no input
    bool clean = false;                 // remove outputs an earlier render left
    std::string outputs;                // --outputs; empty: main,sends,channels
    int jobs = 0;                       // worker threads; 0: one per processor
    std::vector<std::string> settings;  // NAME=VALUE, applied before rendering
    std::vector<TimedMidi> events;      // played into the effect at their frames
    std::string midiFile;
    std::string outDir;
    std::string plotPath;    // empty: no plot
    std::string reportPath;  // empty: no report; "-": standard output
};

// [main thread] Runs every stage of the plan. Returns the exit code; every
// failure is one line on err. With the report on standard output, what
// would go to out goes to err.
int render(RenderPlan& plan, std::ostream& out, std::ostream& err);

// What the command line gives for `render`.
struct RenderOptions {
    std::string pluginPath;
    std::vector<std::string> inputs;  // N=FILE
    std::string outDir;
    int blockSize = 512;
    int sampleRate = 0;  // 0: the first input's
    std::string format;        // empty: the first input's container
    std::string sampleFormat;  // empty: the first input's samples
    double tailSeconds = 0.0;
    bool allOutputs = false;
    bool clean = false;
    std::string outputs;
    int jobs = 0;
    std::vector<std::string> settings;
    std::string midiFile;
    std::string plotPath;
    std::string reportPath;
};

// [main thread] Checks the options, opens the inputs and reads the MIDI
// file, then renders the plan.
int runRender(const RenderOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tools
