#include "render.h"

#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/tables.h"
#include "host/vst_host.h"
#include "interrupts.h"
#include "json_text.h"
#include "level_plot.h"
#include "measure.h"
#include "output_files.h"
#include "output_names.h"
#include "output_pipeline.h"
#include "parameters.h"
#include "plural.h"
#include "progress.h"
#include "report.h"
#include "write_plan.h"

namespace fs = std::filesystem;

namespace tools {

namespace {

// The most events tarnvale-host hands an effect in one call: what
// Tarnvale's queue holds.
constexpr size_t kEventsPerCall = static_cast<size_t>(tarnvale::kMaxQueuedEvents);
// Frames the render hands the workers at a time (a whole number of blocks).
constexpr int kChunkFrames = 8192;
// The most memory libebur128's meters may hold during the render. Outputs
// whose meters do not fit (at high sample rates) are measured from their
// written files afterwards, as many at a time as fit.
constexpr size_t kLoudnessBytes = size_t{48} << 20;
// What a render stopped by Ctrl-C (or SIGTERM, SIGHUP) says of its files:
// before the commit, every file it made is removed; after it, they are all
// in place.
constexpr char kInterruptedBeforeCommit[] = "tarnvale-host: interrupted; nothing was written\n";
constexpr char kInterruptedAfterCommit[] = "tarnvale-host: interrupted after the files were written\n";

// The work on one output: each block quantized once, to what the file
// holds, and that shared by the file and its meters. Without a loudness
// meter (`live` false), the loudness is measured from the file afterwards.
class OutputWork : public OutputTask {
public:
    OutputWork(const OutputPair& p, int64_t total, int rate, int format, bool live)
        : OutputTask(p.left, p.right), levels(total, FileSamples(format)),
          loudness(live ? std::make_unique<LoudnessMeter>(rate) : nullptr), file_(format) {}
    bool consume(const float* l, const float* r, size_t n, std::string& error) override {
        if (file_.quantizes()) {
            words_.resize(2 * n);
            levels.add(l, r, n, words_.data());
            if (loudness) loudness->add(words_.data(), n);
            return writer.write(words_.data(), n, error);
        }
        levels.add(l, r, n);
        const float* heldLeft = levels.held(0);
        const float* heldRight = levels.held(1);
        // A float file keeps a non-finite sample as it is; the meters take
        // it as full scale.
        floats_.resize(2 * n);
        interleave(l, r, floats_.data(), n);
        if (heldLeft != l || heldRight != r) {
            measured_.resize(2 * n);
            interleave(heldLeft, heldRight, measured_.data(), n);
            if (loudness) loudness->add(measured_.data(), n);
        } else if (loudness) {
            loudness->add(floats_.data(), n);
        }
        return writer.write(floats_.data(), n, error);
    }
    bool finish(std::string& error) override {
        levels.finish();
        if (loudness) loudness->finish();
        return writer.finish(error);
    }

    AudioWriter writer;
    LevelMeter levels;
    std::unique_ptr<LoudnessMeter> loudness;

private:
    FileSamples file_;
    std::vector<int32_t> words_;
    std::vector<float> floats_, measured_;
};

struct Output {
    OutputPair pair;
    std::string path;
    std::unique_ptr<OutputWork> work;
};

// A MIDI event and the frame it takes effect: Tarnvale applies one event
// per frame, so an event due on the frame of an earlier one applies on the
// next free frame. Handing each event over no later than that frame keeps
// the effect's queue from ever holding more than one call's events.
struct ScheduledMidi {
    int64_t frame, applies;
    uint8_t bytes[3];
};

struct AutomationSummary {
    VstInt32 index;
    size_t changes;
    float value;
    std::string name, shown;  // the parameter's name, and its text at the end
};

// Everything one render holds, stage to stage. Members go in reverse
// order: the workers before their tasks, the effect before its module.
struct Session {
    explicit Session(RenderPlan& p, std::ostream& text, std::ostream& e) : plan(p), out(text), err(e) {}
    RenderPlan& plan;
    std::ostream& out;
    std::ostream& err;
    std::string error;
    std::unique_ptr<vsthost::Module> module;
    vsthost::Host host;
    std::unique_ptr<vsthost::Plugin> plugin;
    std::vector<nlohmann::json> settings;
    int64_t total = 0;
    WriteTargets targets;
    FolderLocks locks;
    std::vector<Output> outputs;
    int jobs = 1;
    std::unique_ptr<OutputPipeline> pipeline;
    std::vector<uint64_t> inputNonFinite;
    std::vector<int64_t> midiMarks;  // frames of control changes that moved a parameter
    std::vector<AutomationSummary> automation;
    std::vector<OutputReport> reports;
    std::vector<std::string> earlier;  // outputs an earlier render left in the folder

    std::unique_ptr<ProgressBar> progress;

    int fail(int code) {
        if (progress) progress->close();  // the message on a line of its own
        err << "tarnvale-host: " << error << '\n';
        return code;
    }
};

// The effect loaded, its inputs checked, the settings applied.
int loadEffect(Session& s, std::vector<int>& fed) {
    RenderPlan& plan = s.plan;
    s.module = vsthost::Module::load(plan.pluginPath, s.error);
    if (!s.module) return s.fail(kExitPlugin);
    s.out << "plug-in: " << plan.pluginPath << '\n';
    s.host.sampleRate = plan.sampleRate;
    s.host.blockSize = plan.blockSize;
    s.plugin = vsthost::Plugin::create(*s.module, s.host, s.error);
    if (!s.plugin) return s.fail(kExitPlugin);
    AEffect* e = s.plugin->effect();
    if ((e->flags & effFlagsCanReplacing) == 0 || e->processReplacing == nullptr) {
        s.error = plan.pluginPath + " does not offer replacing processing";
        return s.fail(kExitPlugin);
    }
    for (const auto& in : plan.inputs) {
        if (in.channel < 1 || in.channel > e->numInputs / 2) {
            s.error = "channel " + std::to_string(in.channel) + " is outside 1.." + std::to_string(e->numInputs / 2);
            return s.fail(kExitUsage);
        }
        fed.push_back(in.channel);
    }
    for (const auto& assignment : plan.settings) {
        ParameterSetting setting;
        if (!resolveSetting(*s.plugin, assignment, setting, s.error)) return s.fail(kExitUsage);
        s.plugin->setParameter(setting.index, setting.value);
        const std::string shown = describeParameter(*s.plugin, setting.index);
        s.out << "set " << describeSetting(*s.plugin, setting) << '\n';
        s.settings.push_back({{"parameter", jsonText(s.plugin->parameterName(setting.index))},
                              {"index", setting.index},
                              {"value", setting.value},
                              {"shown", jsonText(shown)}});
    }
    return 0;
}

std::string outputPath(const RenderPlan& plan, const OutputPair& pair) {
    return (fs::path(plan.outDir) / (pair.name + "." + extensionFor(plan.format))).string();
}

// Plan: the effect loaded and set, the outputs named, every file to be
// written checked against every file read, the folders made and locked.
int planRender(Session& s) {
    RenderPlan& plan = s.plan;
    std::vector<int> fed;
    if (const int code = loadEffect(s, fed)) return code;
    int64_t longest = 0;
    for (const auto& in : plan.inputs) longest = std::max(longest, in.source->frames());
    s.total = longest + static_cast<int64_t>(std::llround(plan.tailSeconds * plan.sampleRate));
    if (static_cast<double>(s.total) > kMaxRenderSeconds * plan.sampleRate) {
        s.error = "the render would last " + std::to_string(s.total / plan.sampleRate / 3600) +
                  " hours; tarnvale-host renders at most 24";
        return s.fail(kExitUsage);
    }
    std::vector<OutputPair> chosen;
    const std::vector<OutputPair> pairs = outputPairs(*s.plugin);
    if (!selectOutputs(pairs, plan.outputs, plan.allOutputs, fed, chosen, s.error))
        return s.fail(kExitUsage);

    std::vector<RolePath> reads{{"the module", plan.pluginPath}};
    for (const auto& in : plan.inputs)
        if (!in.file.empty()) reads.push_back({"the input of channel " + std::to_string(in.channel), in.file});
    if (!plan.midiFile.empty()) reads.push_back({"the MIDI file", plan.midiFile});
    s.targets.outDir = plan.outDir;
    for (const auto& pair : chosen) {
        const std::string path = outputPath(plan, pair);
        s.outputs.push_back({pair, path, nullptr});
        s.targets.files.push_back({"the output " + pair.name, path});
    }
    if (!plan.plotPath.empty()) s.targets.files.push_back({"--plot", plan.plotPath});
    if (!plan.reportPath.empty() && plan.reportPath != "-") s.targets.files.push_back({"--report", plan.reportPath});
    if (const int code = checkWrites(reads, s.targets, s.error)) return s.fail(code);
    if (const int code = s.locks.take(s.targets, s.error)) return s.fail(code);
    // What an earlier render left: files named as any output of this
    // effect, in this render's format, that this render does not write.
    std::vector<std::string> others;
    for (const auto& pair : pairs)
        if (std::none_of(chosen.begin(), chosen.end(), [&](const OutputPair& c) { return c.name == pair.name; }))
            others.push_back(outputPath(plan, pair));
    s.earlier = leftOutputs(others, reads, s.targets);
    return 0;
}

// Open: each output's temporary file and meters, and the workers.
int openRender(Session& s) {
    const RenderPlan& plan = s.plan;
    std::vector<OutputTask*> tasks;
    const size_t live = kLoudnessBytes / LoudnessMeter::bytes(plan.sampleRate);
    for (auto& o : s.outputs) {
        o.work = std::make_unique<OutputWork>(o.pair, s.total, plan.sampleRate, plan.format, tasks.size() < live);
        if (!o.work->writer.open(o.path, plan.format, plan.sampleRate, s.error)) return s.fail(kExitOutput);
        tasks.push_back(o.work.get());
    }
    s.jobs = plan.jobs > 0 ? plan.jobs : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const int chunk = std::max(1, kChunkFrames / plan.blockSize) * plan.blockSize;
    s.pipeline = std::make_unique<OutputPipeline>(s.plugin->effect()->numOutputs, static_cast<size_t>(chunk), s.jobs, tasks);
    return 0;
}

std::vector<ScheduledMidi> scheduleMidi(const std::vector<TimedMidi>& events) {
    std::vector<ScheduledMidi> scheduled;
    int64_t free = 0;  // the first frame no earlier event takes
    for (const auto& m : events) {
        const int64_t applies = std::max(m.frame, free);
        scheduled.push_back({m.frame, applies, {m.bytes[0], m.bytes[1], m.bytes[2]}});
        free = applies + 1;
    }
    return scheduled;
}

// One block through the effect: split wherever more events apply in it
// than one call may carry, each event handed over by the frame it applies.
void processBlock(Session& s, int64_t start, int frames, float** in, float** out,
                  const std::vector<ScheduledMidi>& events, size_t& next) {
    const AEffect* e = s.plugin->effect();
    std::vector<float*> inAt(in, in + e->numInputs), outAt(out, out + e->numOutputs);
    int done = 0;
    while (done < frames) {
        const int64_t at = start + done;
        size_t last = next;
        while (last < events.size() && events[last].applies < start + frames) ++last;
        int call = frames - done;
        if (last - next > kEventsPerCall) {
            last = next + kEventsPerCall;
            call = static_cast<int>(events[last].applies - at);
        }
        vsthost::EventList list;
        std::vector<int64_t> controls;
        for (size_t k = next; k < last; ++k) {
            const ScheduledMidi& m = events[k];
            list.midi(static_cast<VstInt32>(std::max(m.frame, at) - at), m.bytes[0], m.bytes[1], m.bytes[2]);
            if ((m.bytes[0] & 0xF0) == 0xB0) controls.push_back(m.applies);
        }
        next = last;
        const size_t before = s.host.countOf(audioMasterAutomate);
        if (list.size() > 0) s.plugin->processEvents(list);
        for (int c = 0; c < e->numInputs; ++c) inAt[static_cast<size_t>(c)] = in[c] + done;
        for (int c = 0; c < e->numOutputs; ++c) outAt[static_cast<size_t>(c)] = out[c] + done;
        s.plugin->processReplacing(inAt.data(), outAt.data(), call);
        if (s.host.countOf(audioMasterAutomate) > before)
            s.midiMarks.insert(s.midiMarks.end(), controls.begin(), controls.end());
        done += call;
    }
}

// What the effect reported as automation, per parameter: how often, and
// the value and text it ended at.
void collectAutomation(Session& s) {
    std::map<VstInt32, std::pair<size_t, float>> perParameter;
    for (const auto& call : s.host.callsWith(audioMasterAutomate)) {
        auto& entry = perParameter[call.index];
        ++entry.first;
        entry.second = call.opt;
    }
    for (const auto& [index, entry] : perParameter) {
        const std::string name = s.plugin->parameterName(index);
        s.automation.push_back({index, entry.first, entry.second, name,
                                describeParameter(*s.plugin, index).substr(name.size() + 3)});
    }
}

// Render: chunk by chunk, the inputs read, every block through the effect
// into a slot of the queue, the slot handed to the workers.
int renderBlocks(Session& s) {
    RenderPlan& plan = s.plan;
    const AEffect* e = s.plugin->effect();
    const int block = plan.blockSize;
    const int chunk = std::max(1, kChunkFrames / block) * block;
    s.plugin->start(static_cast<float>(plan.sampleRate), block);
    s.host.clearCalls();
    std::vector<float> inputs(static_cast<size_t>(e->numInputs) * static_cast<size_t>(chunk), 0.0f);
    std::vector<float*> in;
    for (int c = 0; c < e->numInputs; ++c) in.push_back(inputs.data() + static_cast<size_t>(c) * static_cast<size_t>(chunk));
    const auto events = scheduleMidi(plan.events);
    s.inputNonFinite.assign(plan.inputs.size(), 0);
    size_t next = 0;
    // Drawn only for someone watching, and for more than a second of audio.
    s.progress = std::make_unique<ProgressBar>(isatty(STDERR_FILENO) != 0 && s.total > plan.sampleRate);
    for (int64_t start = 0; start < s.total; start += chunk) {
        const int n = static_cast<int>(std::min<int64_t>(chunk, s.total - start));
        float** out = s.pipeline->acquire();
        if (out == nullptr) {  // a worker failed; finish() says why
            s.progress->close();
            break;
        }
        for (size_t k = 0; k < plan.inputs.size(); ++k) {
            const auto c = static_cast<size_t>(plan.inputs[k].channel - 1);
            if (!plan.inputs[k].source->read(in[2 * c], in[2 * c + 1], static_cast<size_t>(n), s.error))
                return s.fail(kExitUsage);
            s.inputNonFinite[k] += countNonFinite(in[2 * c], static_cast<size_t>(n)) +
                                   countNonFinite(in[2 * c + 1], static_cast<size_t>(n));
        }
        for (int at = 0; at < n; at += block) {
            std::vector<float*> inAt(in), outAt(out, out + e->numOutputs);
            for (auto& p : inAt) p += at;
            for (auto& p : outAt) p += at;
            processBlock(s, start + at, std::min(block, n - at), inAt.data(), outAt.data(), events, next);
        }
        s.pipeline->publish(static_cast<size_t>(n));
        s.progress->update(static_cast<double>(start + n) / static_cast<double>(s.total));
    }
    s.progress->finish();
    collectAutomation(s);
    return 0;
}

// The loudness of a written file, read back: what it holds is exactly what
// its meter would have been given during the render.
bool measureWritten(const AudioWriter& writer, int rate, std::unique_ptr<LoudnessMeter>& meter, std::string& error) {
    auto source = FileSource::open(writer.file().temporaryPath(), error);
    if (!source) {
        error = "cannot measure " + writer.file().finalPath() + ": " + error;
        return false;
    }
    meter = std::make_unique<LoudnessMeter>(rate);
    const auto chunk = static_cast<size_t>(kChunkFrames);
    std::vector<float> buffer(6 * chunk);
    float* given = buffer.data();        // left, then right
    float* finite = given + 2 * chunk;   // the same, non-finite samples at full scale
    float* frames = finite + 2 * chunk;  // interleaved
    for (int64_t at = 0; at < source->frames(); at += kChunkFrames) {
        const auto n = static_cast<size_t>(std::min<int64_t>(kChunkFrames, source->frames() - at));
        if (!source->read(given, given + chunk, n, error)) return false;
        finiteCopy(given, finite, n);
        finiteCopy(given + chunk, finite + chunk, n);
        interleave(finite, finite + chunk, frames, n);
        meter->add(frames, n);
    }
    meter->finish();
    return true;
}

// The outputs measured during the render without a loudness meter, from
// their files: as many at a time as there are workers and as fit in memory.
bool measureLater(Session& s) {
    std::vector<OutputWork*> later;
    for (auto& o : s.outputs)
        if (!o.work->loudness) later.push_back(o.work.get());
    if (later.empty()) return true;
    const size_t fit = std::max<size_t>(1, kLoudnessBytes / LoudnessMeter::bytes(s.plan.sampleRate));
    const size_t threads = std::min({static_cast<size_t>(s.jobs), fit, later.size()});
    // After the bar has reached 100 %, someone watching learns what the wait is.
    if (isatty(STDERR_FILENO) != 0)
        s.err << "measuring the loudness of " << counted(later.size(), "output", "outputs") << " from "
              << (later.size() == 1 ? "its file" : "their files") << '\n' << std::flush;
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::string failure;
    auto measure = [&] {
        SignalsHeld held;  // signals go to the render thread, which cleans up
        std::string error;
        try {
            for (size_t k; (k = next++) < later.size();)
                if (!measureWritten(later[k]->writer, s.plan.sampleRate, later[k]->loudness, error)) break;
        } catch (const std::exception& e) {
            error = std::string("a worker failed: ") + e.what();
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!error.empty() && failure.empty()) failure = error;
    };
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; ++t) workers.emplace_back(measure);
    for (auto& t : workers) t.join();
    s.error = failure;
    return failure.empty();
}

// Measure: the workers done, each output's figures gathered.
int measureOutputs(Session& s) {
    if (!s.pipeline->finish(s.error)) return s.fail(kExitOutput);
    if (!measureLater(s)) return s.fail(kExitOutput);
    auto db = [](double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : -INFINITY; };
    for (const auto& o : s.outputs) {
        const LevelMeter& m = o.work->levels;
        OutputReport r;
        r.name = o.pair.name;
        r.file = o.path;
        r.levels = {db(m.peak()), db(m.rms()), o.work->loudness->lufs(), o.work->loudness->lra(),
                    db(m.truePeak()), m.clipped(), m.nonFinite()};
        r.columns[0] = m.columnPeaks(0);
        r.columns[1] = m.columnPeaks(1);
        r.clippedColumns = m.columnClipped();
        s.reports.push_back(std::move(r));
    }
    return 0;
}

// A figure for JSON, to what the measurement resolves: loudness, from a
// histogram of 0.1 LU, to one decimal as the table shows it; levels to two.
// Null where it is not finite (silence measures -inf).
nlohmann::json finite(double v, int decimals = 2) {
    if (!std::isfinite(v)) return nlohmann::json(nullptr);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    const double rounded = std::strtod(text, nullptr);
    return nlohmann::json(rounded == 0.0 ? 0.0 : rounded);  // no "-0.0"
}

std::string reportJson(Session& s) {
    using nlohmann::json;
    const RenderPlan& plan = s.plan;
    json report;
    report["plugin"] = jsonText(plan.pluginPath);
    report["rate"] = plan.sampleRate;
    report["frames"] = s.total;
    report["seconds"] = static_cast<double>(s.total) / plan.sampleRate;
    report["block"] = plan.blockSize;
    report["tail_seconds"] = plan.tailSeconds;
    report["format"] = containerName(plan.format);
    report["sample_format"] = sampleFormatName(plan.format);
    report["settings"] = s.settings;
    json inputs = json::array();
    for (size_t k = 0; k < plan.inputs.size(); ++k) {
        const auto& in = plan.inputs[k];
        inputs.push_back({{"channel", in.channel}, {"file", in.file.empty() ? json(nullptr) : json(jsonText(in.file))},
                          {"rate", in.rate}, {"frames", in.source->frames()}, {"converted", in.converted},
                          {"non_finite", s.inputNonFinite[k]}});
        if (in.file.empty()) inputs[k]["generated"] = in.generated;  // a generated source says what it is
    }
    report["inputs"] = inputs;
    report["midi"] = {{"file", jsonText(plan.midiFile)}, {"events", plan.events.size()}};
    json moves = json::array();
    for (const auto& a : s.automation)
        moves.push_back({{"parameter", jsonText(a.name)}, {"index", a.index},
                         {"changes", a.changes}, {"final_value", a.value}});
    report["automation"] = moves;
    json outs = json::array();
    for (const auto& o : s.reports)
        outs.push_back({{"name", o.name},
                        {"file", jsonText(o.file)},
                        {"peak_dbfs", finite(o.levels.peakDb)},
                        {"rms_dbfs", finite(o.levels.rmsDb)},
                        {"lufs", finite(o.levels.lufs, 1)},
                        {"lra", finite(o.levels.lra, 1)},
                        {"true_peak_dbtp", finite(o.levels.truePeakDb)},
                        {"clipped", o.levels.clipped},
                        {"non_finite", o.levels.nonFinite}});
    report["outputs"] = outs;
    // Outputs of an earlier render in the folder: left there, or removed.
    json earlier = json::array();
    for (const auto& path : s.earlier) earlier.push_back(jsonText(path));
    report["stale"] = plan.clean ? json::array() : earlier;
    report["removed"] = plan.clean ? earlier : json::array();
    return report.dump(2) + "\n";
}

// Commit: the plot and the report written, then every file moved to its
// final name, or none.
int commitRender(Session& s, std::string& reportText) {
    const RenderPlan& plan = s.plan;
    if (!plan.reportPath.empty()) reportText = reportJson(s);
    std::vector<TemporaryFile*> files;
    for (auto& o : s.outputs) files.push_back(&o.work->writer.file());
    TemporaryFile plot, report;
    if (!plan.plotPath.empty()) {
        if (!writeTextFile(plot, plan.plotPath, levelPlotSvg(s.reports, plan.sampleRate, s.total, s.midiMarks), s.error))
            return s.fail(kExitOutput);
        files.push_back(&plot);
    }
    if (!plan.reportPath.empty() && plan.reportPath != "-") {
        if (!writeTextFile(report, plan.reportPath, reportText, s.error)) return s.fail(kExitOutput);
        files.push_back(&report);
    }
    // A signal during the commit is taken once the note says what it did.
    SignalsHeld held;
    if (!commitFiles(files, plan.clean ? s.earlier : std::vector<std::string>{}, s.error)) return s.fail(kExitOutput);
    setInterruptNote(kInterruptedAfterCommit);
    s.locks.keep();
    return 0;
}

void printSummary(Session& s) {
    const RenderPlan& plan = s.plan;
    if (!plan.events.empty() || !s.automation.empty()) {
        size_t changes = 0;
        for (const auto& a : s.automation) changes += a.changes;
        s.out << counted(plan.events.size(), "MIDI event", "MIDI events") << " played; the effect reported "
              << counted(changes, "automation change", "automation changes") << '\n';
        for (const auto& a : s.automation)
            s.out << "  " << a.name << ": " << counted(a.changes, "change", "changes") << ", ending at " << a.shown << '\n';
    }
    for (size_t k = 0; k < plan.inputs.size(); ++k)
        if (s.inputNonFinite[k] > 0)
            s.err << "tarnvale-host: warning: channel " << plan.inputs[k].channel << " ("
                  << (plan.inputs[k].file.empty() ? "generated" : plan.inputs[k].file) << ") has "
                  << counted(s.inputNonFinite[k], "sample that is", "samples that are") << " not a finite number (NaN or infinite)\n";
    for (const auto& r : s.reports)
        if (r.levels.nonFinite > 0)
            s.err << "tarnvale-host: warning: output " << r.name << " has "
                  << counted(r.levels.nonFinite, "sample that is", "samples that are")
                  << " not a finite number, measured as full scale\n";
    for (const auto& r : s.reports)
        if (r.levels.clipped > 0)
            s.err << "tarnvale-host: warning: " << r.file << " clipped " << counted(r.levels.clipped, "sample", "samples")
                  << " beyond full scale, which a " << FileSamples(plan.format).bits()
                  << "-bit file cannot hold; render with --sample-format float to keep them, or lower the levels\n";
    s.out << "wrote " << counted(s.outputs.size(), "file", "files") << " to " << plan.outDir << " (" << s.total << " frames at " << plan.sampleRate << " Hz, "
          << containerName(plan.format) << " " << sampleFormatName(plan.format) << ")\n";
    if (!s.earlier.empty()) {
        std::string names;
        for (const auto& path : s.earlier) names += (names.empty() ? "" : ", ") + fs::path(path).filename().string();
        if (plan.clean)
            s.out << "removed " << counted(s.earlier.size(), "output", "outputs") << " of an earlier render: " << names << '\n';
        else
            s.out << "left from an earlier render, not written by this one: " << names << " (--clean removes "
                  << (s.earlier.size() == 1 ? "it" : "them") << ")\n";
    }
    printLevelTable(s.reports, s.out);
    if (!plan.plotPath.empty()) s.out << "level plot: " << plan.plotPath << '\n';
    if (!plan.reportPath.empty() && plan.reportPath != "-") s.out << "report: " << plan.reportPath << '\n';
}

}  // namespace

int render(RenderPlan& plan, std::ostream& out, std::ostream& err) {
    installInterruptHandlers();
    setInterruptNote(kInterruptedBeforeCommit);
#ifdef __GLIBC__
    // Large buffers (a loudness meter's window, 9 MB at 192 kHz) straight
    // from the system and back to it when freed. Left to itself, glibc
    // raises this threshold after the first such free, and each worker then
    // keeps the meters it measured with resident.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    const bool reportOut = plan.reportPath == "-";
    Session s(plan, reportOut ? err : out, err);
    std::string reportText;
    for (auto stage : {planRender, openRender, renderBlocks, measureOutputs})
        if (const int code = stage(s)) return code;
    s.plugin->close();
    if (const int code = commitRender(s, reportText)) return code;
    printSummary(s);
    if (reportOut) out << reportText << std::flush;
    return 0;
}

namespace {

// "N=FILE": the channel number is checked as written, before it is narrowed;
// whether the effect has that channel is checked once it is loaded.
bool parseInput(const std::string& argument, long long& channel, std::string& path, std::string& error) {
    const auto equals = argument.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 >= argument.size()) {
        error = "--in needs N=FILE, got \"" + argument + "\"";
        return false;
    }
    const std::string number = argument.substr(0, equals);
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        error = "--in needs N=FILE, got \"" + argument + "\"";
        return false;
    }
    errno = 0;
    channel = std::strtoll(number.c_str(), nullptr, 10);
    if (errno == ERANGE || channel > std::numeric_limits<int>::max()) {
        error = "channel " + number + " is too large";
        return false;
    }
    path = argument.substr(equals + 1);
    return true;
}

}  // namespace

int runRender(const RenderOptions& options, std::ostream& out, std::ostream& err) {
    std::string error;
    auto fail = [&](int code) {
        err << "tarnvale-host: " << error << '\n';
        return code;
    };
    if (options.blockSize < 1 || options.blockSize > kMaxBlock) {
        error = "--block must be 1 to " + std::to_string(kMaxBlock) + " frames";
        return fail(kExitUsage);
    }
    if (!(options.tailSeconds >= 0.0 && options.tailSeconds <= kMaxTailSeconds)) {
        error = "--tail must be 0 to " + std::to_string(static_cast<int>(kMaxTailSeconds)) + " seconds";
        return fail(kExitUsage);
    }
    if (options.sampleRate != 0 && (options.sampleRate < kMinRate || options.sampleRate > kMaxRate)) {
        error = "--rate must be " + std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) + " Hz";
        return fail(kExitUsage);
    }
    if (options.jobs < 0 || options.jobs > kMaxJobs) {
        error = "--jobs must be 1 to " + std::to_string(kMaxJobs);
        return fail(kExitUsage);
    }
    if (options.inputs.empty()) {
        error = "render needs at least one --in N=FILE";
        return fail(kExitUsage);
    }

    RenderPlan plan;
    plan.pluginPath = options.pluginPath;
    plan.blockSize = options.blockSize;
    plan.tailSeconds = options.tailSeconds;
    plan.allOutputs = options.allOutputs;
    plan.clean = options.clean;
    plan.outputs = options.outputs;
    plan.jobs = options.jobs;
    plan.settings = options.settings;
    plan.outDir = options.outDir;
    plan.plotPath = options.plotPath;
    plan.reportPath = options.reportPath;
    plan.midiFile = options.midiFile;
    int firstFormat = 0;
    for (const auto& argument : options.inputs) {
        long long channel = 0;
        std::string path;
        if (!parseInput(argument, channel, path, error)) return fail(kExitUsage);
        if (std::any_of(plan.inputs.begin(), plan.inputs.end(), [&](const auto& s) { return s.channel == channel; })) {
            error = "channel " + std::to_string(channel) + " is given more than one file";
            return fail(kExitUsage);
        }
        auto source = FileSource::open(path, error);
        if (!source) return fail(kExitUsage);
        if (source->fileRate() < kMinRate || source->fileRate() > kMaxRate) {
            error = path + " claims a sample rate of " + std::to_string(source->fileRate()) + " Hz; inputs must be " +
                    std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) + " Hz";
            return fail(kExitUsage);
        }
        if (plan.inputs.empty()) {
            plan.sampleRate = options.sampleRate != 0 ? options.sampleRate : source->fileRate();
            firstFormat = source->fileFormat();
        }
        if (!source->renderAt(plan.sampleRate, error)) return fail(kExitUsage);
        RenderInput input;
        input.channel = static_cast<int>(channel);
        input.file = path;
        input.rate = source->fileRate();
        input.converted = source->converted();
        input.source = std::move(source);
        plan.inputs.push_back(std::move(input));
    }
    const std::string container = options.format.empty() ? containerName(firstFormat) : options.format;
    const std::string samples = options.sampleFormat.empty() ? sampleFormatName(firstFormat) : options.sampleFormat;
    plan.format = outputFormat(container, samples, error);
    if (plan.format == 0) return fail(kExitUsage);
    if (!options.midiFile.empty() && !readMidiFile(options.midiFile, plan.sampleRate, plan.events, error))
        return fail(kExitUsage);
    std::ostream& text = plan.reportPath == "-" ? err : out;
    for (const auto& in : plan.inputs)
        if (in.converted)
            text << "channel " << in.channel << ": " << in.file << " converted from " << in.rate << " to "
                 << plan.sampleRate << " Hz\n";
    return render(plan, out, err);
}

}  // namespace tools
