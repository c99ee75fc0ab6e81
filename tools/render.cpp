#include "render.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "host/vst_host.h"
#include "output_files.h"
#include "parameters.h"
#include "plural.h"
#include "report.h"

namespace fs = std::filesystem;

namespace tools {

namespace {

struct OutputPair {
    std::string name;
    int left, right;  // output pin indices
    std::string path;
    std::unique_ptr<AudioWriter> writer;
    std::unique_ptr<OutputMeter> meter;
};

bool isTarnvale(const AEffect* e) {
    return e->uniqueID == fourCharCode('1', '8', '6', '5') && e->numInputs == 32 && e->numOutputs == 38;
}

// The files to write: Tarnvale's buses and the channels that had input (or
// all of them); for other effects every output pair in order.
std::vector<OutputPair> outputPairs(const AEffect* e, const std::vector<RenderInput>& inputs, bool all) {
    std::vector<OutputPair> pairs;
    char name[24];
    if (isTarnvale(e)) {
        pairs.push_back({"main", 0, 1, {}, {}, {}});
        pairs.push_back({"send1", 2, 3, {}, {}, {}});
        pairs.push_back({"send2", 4, 5, {}, {}, {}});
        for (int c = 1; c <= 16; ++c) {
            const bool fed = std::any_of(inputs.begin(), inputs.end(), [&](const auto& s) { return s.channel == c; });
            if (!fed && !all) continue;
            std::snprintf(name, sizeof name, "ch%02d", c);
            pairs.push_back({name, 6 + 2 * (c - 1), 7 + 2 * (c - 1), {}, {}, {}});
        }
        return pairs;
    }
    for (int k = 0; k < e->numOutputs; k += 2) {
        std::snprintf(name, sizeof name, "out%02d", k / 2 + 1);
        pairs.push_back({name, k, std::min(k + 1, e->numOutputs - 1), {}, {}, {}});
    }
    return pairs;
}

class Progress {
public:
    explicit Progress(bool shown) : shown_(shown) {}
    void update(double fraction) {
        if (!shown_) return;
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent == last_) return;
        last_ = percent;
        const int filled = percent * 30 / 100;
        std::fprintf(stderr, "\rrendering [%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(30 - filled), '.').c_str(), percent);
        std::fflush(stderr);
    }
    ~Progress() {
        if (shown_ && last_ >= 0) std::fprintf(stderr, "\r%50s\r", "");
    }

private:
    bool shown_;
    int last_ = -1;
};

bool prepareOutputFolder(const std::string& dir, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        error = "cannot create output folder " + dir + (ec ? ": " + ec.message() : "");
        return false;
    }
    if (access(dir.c_str(), W_OK) != 0) {
        error = "output folder " + dir + " is not writable";
        return false;
    }
    return true;
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

struct AutomationSummary {
    VstInt32 index;
    size_t changes;
    float value;
};

std::string reportJson(const RenderPlan& plan, int64_t frames, const std::vector<nlohmann::json>& settings,
                       const std::vector<AutomationSummary>& automation, vsthost::Plugin& plugin,
                       const std::vector<OutputReport>& outputs) {
    using nlohmann::json;
    json report;
    report["plugin"] = plan.pluginPath;
    report["rate"] = plan.sampleRate;
    report["frames"] = frames;
    report["seconds"] = static_cast<double>(frames) / plan.sampleRate;
    report["block"] = plan.blockSize;
    report["tail_seconds"] = plan.tailSeconds;
    report["format"] = containerName(plan.format);
    report["sample_format"] = sampleFormatName(plan.format);
    report["settings"] = settings;
    json inputs = json::array();
    for (const auto& in : plan.inputs)
        inputs.push_back({{"channel", in.channel}, {"file", in.file.empty() ? json(nullptr) : json(in.file)},
                          {"rate", in.rate}, {"frames", in.source->frames()}, {"converted", in.converted}});
    for (size_t k = 0; k < plan.inputs.size(); ++k)  // a generated source says what it is
        if (plan.inputs[k].file.empty()) inputs[k]["generated"] = plan.inputs[k].generated;
    report["inputs"] = inputs;
    report["midi"] = {{"file", plan.midiFile}, {"events", plan.events.size()}};
    json moves = json::array();
    for (const auto& a : automation)
        moves.push_back({{"parameter", plugin.parameterName(a.index)}, {"index", a.index}, {"changes", a.changes},
                         {"final_value", a.value}});
    report["automation"] = moves;
    json outs = json::array();
    for (const auto& o : outputs)
        outs.push_back({{"name", o.name},
                        {"file", o.file},
                        {"peak_dbfs", finite(o.levels.peakDb)},
                        {"rms_dbfs", finite(o.levels.rmsDb)},
                        {"lufs", finite(o.levels.lufs, 1)},
                        {"lra", finite(o.levels.lra, 1)},
                        {"true_peak_dbtp", finite(o.levels.truePeakDb)},
                        {"clipped", o.levels.clipped}});
    report["outputs"] = outs;
    return report.dump(2) + "\n";
}

}  // namespace

int executePlan(RenderPlan& plan, std::ostream& out, std::ostream& err) {
    std::string error;
    auto fail = [&](int code) {
        err << "tarnvale-host: " << error << '\n';
        return code;
    };
    auto module = vsthost::Module::load(plan.pluginPath, error);
    if (!module) return fail(kExitPlugin);
    out << "plug-in: " << plan.pluginPath << '\n';
    vsthost::Host host;
    host.sampleRate = plan.sampleRate;
    host.blockSize = plan.blockSize;
    auto plugin = vsthost::Plugin::create(*module, host, error);
    if (!plugin) return fail(kExitPlugin);
    AEffect* e = plugin->effect();
    if ((e->flags & effFlagsCanReplacing) == 0 || e->processReplacing == nullptr) {
        error = plan.pluginPath + " does not offer replacing processing";
        return fail(kExitPlugin);
    }
    const int channels = e->numInputs / 2;
    for (const auto& s : plan.inputs)
        if (s.channel < 1 || s.channel > channels) {
            error = "channel " + std::to_string(s.channel) + " is outside 1.." + std::to_string(channels);
            return fail(kExitUsage);
        }

    std::vector<nlohmann::json> settings;
    for (const auto& assignment : plan.settings) {
        ParameterSetting setting;
        if (!resolveSetting(*plugin, assignment, setting, error)) return fail(kExitUsage);
        plugin->setParameter(setting.index, setting.value);
        out << "set " << describeSetting(*plugin, setting) << '\n';
        settings.push_back({{"parameter", plugin->parameterName(setting.index)},
                            {"index", setting.index},
                            {"value", setting.value},
                            {"shown", describeParameter(*plugin, setting.index)}});
    }

    int64_t longest = 0;
    for (const auto& s : plan.inputs) longest = std::max(longest, s.source->frames());
    const auto tail = static_cast<int64_t>(std::llround(plan.tailSeconds * plan.sampleRate));
    const int64_t total = longest + tail;
    if (static_cast<double>(total) > kMaxRenderSeconds * plan.sampleRate) {
        error = "the render would last " + std::to_string(total / plan.sampleRate / 3600) +
                " hours; tarnvale-host renders at most 24";
        return fail(kExitUsage);
    }
    if (!prepareOutputFolder(plan.outDir, error)) return fail(kExitOutput);

    auto pairs = outputPairs(e, plan.inputs, plan.allOutputs);
    for (auto& p : pairs) {
        p.path = (fs::path(plan.outDir) / (p.name + "." + extensionFor(plan.format))).string();
        p.writer = std::make_unique<AudioWriter>();
        if (!p.writer->open(p.path, plan.format, plan.sampleRate, error)) return fail(kExitOutput);
        p.meter = std::make_unique<OutputMeter>(plan.sampleRate, total, formatClips(plan.format));
    }

    const int block = plan.blockSize;
    plugin->start(static_cast<float>(plan.sampleRate), block);
    host.clearCalls();
    // One block of every input and output; only these are in memory.
    std::vector<std::vector<float>> inBlock(static_cast<size_t>(e->numInputs), std::vector<float>(static_cast<size_t>(block)));
    std::vector<std::vector<float>> outBlock(static_cast<size_t>(e->numOutputs), std::vector<float>(static_cast<size_t>(block)));
    std::vector<float*> inPointers, outPointers;
    for (auto& v : inBlock) inPointers.push_back(v.data());
    for (auto& v : outBlock) outPointers.push_back(v.data());
    std::vector<int64_t> midiMarks;  // frames of control changes that moved a parameter

    Progress progress(isatty(fileno(stderr)) != 0 && total > plan.sampleRate);
    size_t nextEvent = 0;
    for (int64_t start = 0; start < total; start += block) {
        const auto n = static_cast<VstInt32>(std::min<int64_t>(block, total - start));
        for (const auto& s : plan.inputs) {
            const auto c = static_cast<size_t>(s.channel - 1);
            if (!s.source->read(inBlock[2 * c].data(), inBlock[2 * c + 1].data(), static_cast<size_t>(n), error))
                return fail(kExitUsage);
        }
        vsthost::EventList events;
        std::vector<int64_t> controls;
        while (nextEvent < plan.events.size() && plan.events[nextEvent].frame < start + n) {
            const TimedMidi& m = plan.events[nextEvent++];
            const auto delta = static_cast<VstInt32>(std::max<int64_t>(0, m.frame - start));
            events.midi(delta, m.bytes[0], m.bytes[1], m.bytes[2]);
            if ((m.bytes[0] & 0xF0) == 0xB0) controls.push_back(start + delta);
        }
        const size_t before = host.countOf(audioMasterAutomate);
        if (events.size() > 0) plugin->processEvents(events);
        plugin->processReplacing(inPointers.data(), outPointers.data(), n);
        if (host.countOf(audioMasterAutomate) > before) midiMarks.insert(midiMarks.end(), controls.begin(), controls.end());
        for (auto& p : pairs) {
            const float* left = outBlock[static_cast<size_t>(p.left)].data();
            const float* right = outBlock[static_cast<size_t>(p.right)].data();
            if (!p.writer->write(left, right, static_cast<size_t>(n), error)) return fail(kExitOutput);
            p.meter->add(left, right, static_cast<size_t>(n));
        }
        progress.update(static_cast<double>(start + n) / static_cast<double>(total));
    }

    const auto automation = host.callsWith(audioMasterAutomate);
    std::vector<AutomationSummary> moved;
    if (!plan.events.empty() || !automation.empty()) {
        std::map<VstInt32, std::pair<size_t, float>> perParameter;
        for (const auto& call : automation) {
            auto& entry = perParameter[call.index];
            ++entry.first;
            entry.second = call.opt;
        }
        out << counted(plan.events.size(), "MIDI event", "MIDI events") << " played; the effect reported "
            << counted(automation.size(), "automation change", "automation changes") << '\n';
        for (const auto& [index, entry] : perParameter) {
            moved.push_back({index, entry.first, entry.second});
            const std::string name = plugin->parameterName(index);
            out << "  " << name << ": " << counted(entry.first, "change", "changes") << ", ending at "
                << describeParameter(*plugin, index).substr(name.size() + 3) << '\n';
        }
    }

    // Every file is complete before any appears under its final name.
    std::vector<OutputReport> reports;
    for (auto& p : pairs) reports.push_back({p.name, p.path, p.meter->result(), p.meter.get()});
    TemporaryFile plot, report;
    if (!plan.plotPath.empty() &&
        !writeTextFile(plot, plan.plotPath, levelPlotSvg(reports, plan.sampleRate, total, midiMarks), error))
        return fail(kExitOutput);
    if (!plan.reportPath.empty() &&
        !writeTextFile(report, plan.reportPath, reportJson(plan, total, settings, moved, *plugin, reports), error))
        return fail(kExitOutput);
    plugin->close();
    // All files appear, or none: a failed move takes back those moved before it.
    bool moved_all = true;
    size_t done = 0;
    for (; done < pairs.size() && moved_all; ++done) moved_all = pairs[done].writer->commit(error);
    if (moved_all && !plan.plotPath.empty()) moved_all = plot.commit(error);
    if (moved_all && !plan.reportPath.empty()) moved_all = report.commit(error);
    if (!moved_all) {
        for (size_t k = 0; k < done; ++k) pairs[k].writer->withdraw();
        plot.withdraw();
        report.withdraw();
        return fail(kExitOutput);
    }

    out << "wrote " << counted(pairs.size(), "file", "files") << " to " << plan.outDir << " (" << total << " frames at " << plan.sampleRate
        << " Hz, " << containerName(plan.format) << " " << sampleFormatName(plan.format) << ")\n";
    printLevelTable(reports, out);
    if (!plan.plotPath.empty()) out << "level plot: " << plan.plotPath << '\n';
    if (!plan.reportPath.empty()) out << "report: " << plan.reportPath << '\n';
    return 0;
}

namespace {

// "N=FILE": the channel number is checked as written, before it is narrowed.
bool parseInput(const std::string& argument, int maxChannel, long long& channel, std::string& path, std::string& error) {
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
    if (errno == ERANGE || channel < 1 || channel > maxChannel) {
        error = "channel " + number + " is outside 1.." + std::to_string(maxChannel);
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
    if (options.inputs.empty()) {
        error = "render needs at least one --in N=FILE";
        return fail(kExitUsage);
    }

    RenderPlan plan;
    plan.pluginPath = options.pluginPath;
    plan.blockSize = options.blockSize;
    plan.tailSeconds = options.tailSeconds;
    plan.allOutputs = options.allOutputs;
    plan.settings = options.settings;
    plan.outDir = options.outDir;
    plan.plotPath = options.plotPath;
    plan.reportPath = options.reportPath;
    plan.midiFile = options.midiFile;
    int firstFormat = 0;
    for (const auto& argument : options.inputs) {
        long long channel = 0;
        std::string path;
        if (!parseInput(argument, 16, channel, path, error)) return fail(kExitUsage);
        if (std::any_of(plan.inputs.begin(), plan.inputs.end(), [&](const auto& s) { return s.channel == channel; })) {
            error = "channel " + std::to_string(channel) + " is given more than one file";
            return fail(kExitUsage);
        }
        auto source = FileSource::open(path, error);
        if (!source) return fail(kExitUsage);
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
    for (const auto& in : plan.inputs)
        if (in.converted)
            out << "channel " << in.channel << ": " << in.file << " converted from " << in.rate << " to "
                << plan.sampleRate << " Hz\n";
    return executePlan(plan, out, err);
}

}  // namespace tools
