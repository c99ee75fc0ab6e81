#include "render.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "audio_io.h"
#include "host/vst_host.h"
#include "parameters.h"
#include "report.h"

namespace fs = std::filesystem;

namespace tools {

namespace {

struct OutputPair {
    std::string name;
    int left, right;  // output pin indices
    std::vector<float> leftSamples, rightSamples;
};

bool isTarnvale(const AEffect* e) {
    return e->uniqueID == fourCharCode('1', '8', '6', '5') && e->numInputs == 32 && e->numOutputs == 38;
}

// The files to write: Tarnvale's buses and the channels that had input (or
// all of them); for other effects every output pair in order.
std::vector<OutputPair> outputPairs(const AEffect* e, const std::vector<StereoSource>& sources, bool all) {
    std::vector<OutputPair> pairs;
    if (isTarnvale(e)) {
        pairs.push_back({"main", 0, 1, {}, {}});
        pairs.push_back({"send1", 2, 3, {}, {}});
        pairs.push_back({"send2", 4, 5, {}, {}});
        for (int c = 1; c <= 16; ++c) {
            const bool fed = std::any_of(sources.begin(), sources.end(), [&](const auto& s) { return s.channel == c; });
            if (!fed && !all) continue;
            char name[24];
            std::snprintf(name, sizeof name, "ch%02d", c);
            pairs.push_back({name, 6 + 2 * (c - 1), 7 + 2 * (c - 1), {}, {}});
        }
        return pairs;
    }
    for (int k = 0; k < e->numOutputs; k += 2) {
        char name[24];
        std::snprintf(name, sizeof name, "out%02d", k / 2 + 1);
        pairs.push_back({name, k, std::min(k + 1, e->numOutputs - 1), {}, {}});
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

// Removes the temporary files of an unfinished render.
struct TemporaryFiles {
    std::vector<std::pair<std::string, std::string>> files;  // temporary, final
    bool committed = false;
    ~TemporaryFiles() {
        if (committed) return;
        std::error_code ignored;
        for (const auto& f : files) fs::remove(f.first, ignored);
    }
    std::string add(const std::string& finalPath) {
        const fs::path p(finalPath);
        const std::string temporary =
            (p.parent_path() / ("." + p.filename().string() + ".partial-" + std::to_string(getpid()))).string();
        files.emplace_back(temporary, finalPath);
        return temporary;
    }
    bool commit(std::string& error) {
        for (const auto& f : files) {
            std::error_code ec;
            fs::rename(f.first, f.second, ec);
            if (ec) {
                error = "cannot move " + f.first + " to " + f.second + ": " + ec.message();
                return false;
            }
        }
        committed = true;
        return true;
    }
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

}  // namespace

int executePlan(const RenderPlan& plan, std::ostream& out, std::ostream& err) {
    std::string error;
    auto module = vsthost::Module::load(plan.pluginPath, error);
    if (!module) {
        err << "tarnvale-host: " << error << '\n';
        return kExitPlugin;
    }
    vsthost::Host host;
    host.sampleRate = plan.sampleRate;
    host.blockSize = plan.blockSize;
    auto plugin = vsthost::Plugin::create(*module, host, error);
    if (!plugin) {
        err << "tarnvale-host: " << error << '\n';
        return kExitPlugin;
    }
    AEffect* e = plugin->effect();
    if ((e->flags & effFlagsCanReplacing) == 0 || e->processReplacing == nullptr) {
        err << "tarnvale-host: " << plan.pluginPath << " does not offer replacing processing\n";
        return kExitPlugin;
    }
    const int channels = e->numInputs / 2;
    for (const auto& s : plan.sources)
        if (s.channel < 1 || s.channel > channels) {
            err << "tarnvale-host: channel " << s.channel << " is outside 1.." << channels << '\n';
            return kExitUsage;
        }

    for (const auto& assignment : plan.settings) {
        ParameterSetting setting;
        if (!resolveSetting(*plugin, assignment, setting, error)) {
            err << "tarnvale-host: " << error << '\n';
            return kExitUsage;
        }
        plugin->setParameter(setting.index, setting.value);
        out << "set " << describeParameter(*plugin, setting.index) << '\n';
    }
    if (!prepareOutputFolder(plan.outDir, error)) {
        err << "tarnvale-host: " << error << '\n';
        return kExitOutput;
    }

    size_t longest = 0;
    for (const auto& s : plan.sources) longest = std::max(longest, s.left.size());
    const auto total = longest + static_cast<size_t>(std::llround(std::max(0.0, plan.tailSeconds) * plan.sampleRate));
    auto pairs = outputPairs(e, plan.sources, plan.allOutputs);
    std::vector<std::vector<float>> outputs(static_cast<size_t>(e->numOutputs), std::vector<float>(total));

    const int block = std::max(1, plan.blockSize);
    plugin->start(static_cast<float>(plan.sampleRate), block);
    host.clearCalls();
    std::vector<std::vector<float>> inBlock(static_cast<size_t>(e->numInputs), std::vector<float>(static_cast<size_t>(block)));
    std::vector<float*> inPointers, outPointers(static_cast<size_t>(e->numOutputs));
    for (auto& v : inBlock) inPointers.push_back(v.data());
    std::vector<const StereoSource*> sourceFor(static_cast<size_t>(channels), nullptr);
    for (const auto& s : plan.sources) sourceFor[static_cast<size_t>(s.channel - 1)] = &s;

    Progress progress(isatty(fileno(stderr)) != 0 && total > static_cast<size_t>(plan.sampleRate));
    size_t nextEvent = 0;
    for (size_t start = 0; start < total; start += static_cast<size_t>(block)) {
        const auto n = static_cast<VstInt32>(std::min(static_cast<size_t>(block), total - start));
        for (int c = 0; c < channels; ++c) {
            const StereoSource* s = sourceFor[static_cast<size_t>(c)];
            for (VstInt32 i = 0; i < n; ++i) {
                const size_t at = start + static_cast<size_t>(i);
                const bool has = s != nullptr && at < s->left.size();
                inBlock[static_cast<size_t>(2 * c)][static_cast<size_t>(i)] = has ? s->left[at] : 0.0f;
                inBlock[static_cast<size_t>(2 * c + 1)][static_cast<size_t>(i)] = has ? s->right[at] : 0.0f;
            }
        }
        vsthost::EventList events;
        while (nextEvent < plan.events.size() && plan.events[nextEvent].frame < static_cast<int64_t>(start) + n) {
            const TimedMidi& m = plan.events[nextEvent++];
            const auto delta = static_cast<VstInt32>(std::max<int64_t>(0, m.frame - static_cast<int64_t>(start)));
            events.midi(delta, m.bytes[0], m.bytes[1], m.bytes[2]);
        }
        if (events.size() > 0) plugin->processEvents(events);
        for (size_t k = 0; k < outputs.size(); ++k) outPointers[k] = outputs[k].data() + start;
        plugin->processReplacing(inPointers.data(), outPointers.data(), n);
        progress.update(static_cast<double>(start + static_cast<size_t>(n)) / static_cast<double>(total));
    }

    const auto automation = host.callsWith(audioMasterAutomate);
    if (!plan.events.empty() || !automation.empty()) {
        std::map<VstInt32, std::pair<size_t, float>> perParameter;
        for (const auto& call : automation) {
            auto& entry = perParameter[call.index];
            ++entry.first;
            entry.second = call.opt;
        }
        out << plan.events.size() << " MIDI events played; the effect reported " << automation.size()
            << " automation changes\n";
        for (const auto& [index, entry] : perParameter)
            out << "  " << plugin->parameterName(index) << ": " << entry.first << " changes, ending at "
                << describeParameter(*plugin, index).substr(plugin->parameterName(index).size() + 3) << '\n';
    }
    plugin->close();

    TemporaryFiles files;
    std::vector<NamedOutput> named;
    for (auto& p : pairs) {
        p.leftSamples = std::move(outputs[static_cast<size_t>(p.left)]);
        p.rightSamples = p.left == p.right ? p.leftSamples : std::move(outputs[static_cast<size_t>(p.right)]);
        const std::string path = (fs::path(plan.outDir) / (p.name + "." + extensionFor(plan.format))).string();
        if (!writeStereo(files.add(path), plan.format, plan.sampleRate, p.leftSamples, p.rightSamples, error)) {
            err << "tarnvale-host: " << error << '\n';
            return kExitOutput;
        }
        named.push_back({p.name, &p.leftSamples, &p.rightSamples});
    }
    if (!plan.plotPath.empty() && !writeLevelPlot(files.add(plan.plotPath), named, plan.sampleRate, error)) {
        err << "tarnvale-host: " << error << '\n';
        return kExitOutput;
    }
    if (!files.commit(error)) {
        err << "tarnvale-host: " << error << '\n';
        return kExitOutput;
    }
    out << "wrote " << pairs.size() << " files to " << plan.outDir << " (" << total << " frames at "
        << plan.sampleRate << " Hz)\n";
    printLevelTable(named, out);
    if (!plan.plotPath.empty()) out << "level plot: " << plan.plotPath << '\n';
    return 0;
}

int runRender(const RenderOptions& options, std::ostream& out, std::ostream& err) {
    RenderPlan plan;
    plan.pluginPath = options.pluginPath;
    plan.blockSize = options.blockSize;
    plan.tailSeconds = options.tailSeconds;
    plan.allOutputs = options.allOutputs;
    plan.settings = options.settings;
    plan.outDir = options.outDir;
    plan.plotPath = options.plotPath;
    if (options.blockSize < 1) {
        err << "tarnvale-host: --block must be at least 1\n";
        return kExitUsage;
    }
    if (options.tailSeconds < 0) {
        err << "tarnvale-host: --tail must not be negative\n";
        return kExitUsage;
    }
    if (options.inputs.empty()) {
        err << "tarnvale-host: render needs at least one --in N=FILE\n";
        return kExitUsage;
    }

    int rate = 0, format = 0;
    std::string rateFrom;
    for (const auto& argument : options.inputs) {
        const auto equals = argument.find('=');
        char* end = nullptr;
        const long channel = equals == std::string::npos ? 0 : std::strtol(argument.c_str(), &end, 10);
        if (equals == std::string::npos || end != argument.c_str() + equals || equals + 1 >= argument.size()) {
            err << "tarnvale-host: --in needs N=FILE, got \"" << argument << "\"\n";
            return kExitUsage;
        }
        if (std::any_of(plan.sources.begin(), plan.sources.end(), [&](const auto& s) { return s.channel == channel; })) {
            err << "tarnvale-host: channel " << channel << " is given more than one file\n";
            return kExitUsage;
        }
        const std::string path = argument.substr(equals + 1);
        AudioFile file;
        std::string error;
        if (!readAudio(path, file, error)) {
            err << "tarnvale-host: " << error << '\n';
            return kExitUsage;
        }
        if (rate == 0) {
            rate = file.sampleRate;
            format = file.format;
            rateFrom = path;
        } else if (file.sampleRate != rate) {
            err << "tarnvale-host: " << path << " is at " << file.sampleRate << " Hz but " << rateFrom << " is at "
                << rate << " Hz; inputs must share one sample rate\n";
            return kExitUsage;
        }
        plan.sources.push_back({static_cast<int>(channel), std::move(file.left), std::move(file.right)});
    }
    if (options.sampleRate != 0 && options.sampleRate != rate) {
        err << "tarnvale-host: --rate " << options.sampleRate << " differs from the inputs' " << rate
            << " Hz; resample the inputs first\n";
        return kExitUsage;
    }
    plan.sampleRate = rate;
    const int major = format & SF_FORMAT_TYPEMASK;
    const bool known = major == SF_FORMAT_WAV || major == SF_FORMAT_FLAC || major == SF_FORMAT_AIFF;
    plan.format = options.format.empty() ? (known ? format : formatForName("wav", format))
                                         : formatForName(options.format, format);
    if (plan.format == 0) {
        err << "tarnvale-host: unknown --format \"" << options.format << "\" (wav, flac or aiff)\n";
        return kExitUsage;
    }
    if (!options.midiFile.empty()) {
        std::string error;
        if (!readMidiFile(options.midiFile, rate, plan.events, error)) {
            err << "tarnvale-host: " << error << '\n';
            return kExitUsage;
        }
    }
    return executePlan(plan, out, err);
}

}  // namespace tools
