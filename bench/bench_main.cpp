// tarnvale-bench: Tarnvale through its entry points against the memory
// floor and a straightforward per-frame engine, for three block sizes and
// three situations, and the LV2 edition against the VST 2.4 edition (block
// sizes 1 to 64) and against its own static mix while every channel ramps
// or every meter is connected (512 frames). Prints the time per frame of
// each and their ratios; --check first proves Tarnvale's outputs,
// parameters and automation equal the straightforward engine's; --lv2 runs
// the LV2 cells alone; --baseline MODULE times another build's VST 2.4
// module in the same interleaved run, cell for cell.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/vst_host.h"
#include "engine/mix_kernel.h"
#include "lv2/ports.h"
#include "support/reference_mixer.h"

void floorPass_portable(const float* const* in, float* const* out, int frames);
#if TARNVALE_X86_KERNELS
void floorPass_avx2(const float* const* in, float* const* out, int frames);
void floorPass_avx512(const float* const* in, float* const* out, int frames);
#endif

namespace {

constexpr int kBlocks[] = {64, 512, 4096};
enum Situation { kStatic = 0, kEvery32 = 1, kEveryFrame = 2 };
const char* const kSituationNames[] = {"static parameters", "control change every 32 frames",
                                       "control change every frame"};
constexpr int kMaxFrames = 4096;

// The controllers the event streams cycle through: every mapped one, so
// master and channel strips both change.
std::vector<uint8_t> mappedControllers() {
    std::vector<uint8_t> list;
    for (int cc = 0; cc < 128; ++cc)
        if (reference::Mixer::parameterForController(cc) >= 0) list.push_back(static_cast<uint8_t>(cc));
    return list;
}

// The events of one block in a situation, as (frame, controller, value).
std::vector<reference::Midi> blockEvents(Situation situation, int frames, int block) {
    static const std::vector<uint8_t> controllers = mappedControllers();
    std::vector<reference::Midi> events;
    const int step = situation == kEvery32 ? 32 : 1;
    if (situation == kStatic) return events;
    for (int f = 0; f < frames && events.size() < 255; f += step) {
        const size_t n = static_cast<size_t>(block) * 977 + events.size();
        // Values stay near the defaults' gains so the mix keeps its level.
        events.push_back({f, static_cast<uint8_t>(0xB0 | (n % 16)), controllers[n % controllers.size()],
                          static_cast<uint8_t>(40 + n * 7 % 60)});
    }
    return events;
}

// The host side of the benchmark: answers the version query and counts the
// automation the effect reports, as cheaply as a host can.
struct BenchHost {
    static size_t automations;
    static std::vector<std::pair<VstInt32, float>>* log;  // filled in check mode
    static VstIntPtr VSTCALLBACK callback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
        if (opcode == audioMasterVersion) return 2400;
        if (opcode == audioMasterAutomate) {
            ++automations;
            if (log != nullptr) log->emplace_back(index, opt);
        }
        return 0;
    }
};
size_t BenchHost::automations = 0;
std::vector<std::pair<VstInt32, float>>* BenchHost::log = nullptr;

// The 70 buffers, carved from one page-aligned arena (so every run lays them
// out alike) with each buffer's start moved on by a further cache line, so
// that no two streams share an address modulo 4 KiB (which would make loads
// wait on unrelated stores and slow every engine).
// Inputs are ordinary audio (-1..1) or the same scaled below the smallest
// normal float, as reverb tails and long fades leave them.
constexpr float kOrdinary = 1.0f;
constexpr float kSubnormal = 1e-39f;

struct Buffers {
    explicit Buffers(unsigned seed, float scale = kOrdinary) : arena(70 * (kMaxFrames + kStagger * 70) + kPage) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
        const auto misalign = reinterpret_cast<uintptr_t>(arena.data()) % (kPage * sizeof(float));
        float* base = arena.data() + (misalign == 0 ? 0 : kPage - misalign / sizeof(float));
        for (int k = 0; k < 70; ++k) {
            float* start = base + k * (kMaxFrames + kStagger * 70) + k * kStagger;
            (k < 32 ? inPointers : outPointers).push_back(start);
        }
        // Making subnormal input sets the processor's sticky underflow and
        // denormal flags, which would then greet every later cell's plug-in
        // calls as the host's state: the flags are cleared again, so every
        // cell starts from the same state.
#if TARNVALE_X86_KERNELS
        const unsigned int csr = _mm_getcsr();
#endif
        for (float* p : inPointers)
            for (int i = 0; i < kMaxFrames; ++i) p[i] = signal(rng) * scale;
#if TARNVALE_X86_KERNELS
        _mm_setcsr(csr);
#endif
        for (float* p : inPointers) in.push_back(p);
        for (float* p : outPointers) out.push_back(p);
    }
    static constexpr int kStagger = 16;  // floats: one cache line
    static constexpr int kPage = 1024;   // floats: 4 KiB
    std::vector<float> arena;
    std::vector<float*> inPointers, outPointers;
    std::vector<float*> in, out;
};

std::string modulePath() { return TARNVALE_MODULE_PATH; }
// Another build's VST 2.4 module to time beside this one (--baseline MODULE).
std::string baselinePath;

struct Tarnvale {
    explicit Tarnvale(const std::string& path = modulePath()) {
        std::string error;
        module = vsthost::Module::load(path, error);
        if (!module) {
            std::fprintf(stderr, "tarnvale-bench: %s\n", error.c_str());
            std::exit(2);
        }
        effect = module->entryPoint()(BenchHost::callback);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    ~Tarnvale() { effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); }
    std::unique_ptr<vsthost::Module> module;
    AEffect* effect;
};

// Event lists for every block of a run, prepared before timing starts.
struct EventPlan {
    EventPlan(Situation situation, int frames, int count) {
        for (int b = 0; b < count; ++b) {
            auto events = blockEvents(situation, frames, b);
            vsthost::EventList list;
            for (const auto& e : events) list.midi(e.deltaFrames, e.status, e.data1, e.data2);
            midi.push_back(std::move(events));
            lists.push_back(std::move(list));
        }
        for (auto& l : lists) pointers.push_back(l.get());
    }
    std::vector<std::vector<reference::Midi>> midi;
    std::vector<vsthost::EventList> lists;
    std::vector<VstEvents*> pointers;
};
constexpr int kPlannedBlocks = 8;

using FloorPass = void (*)(const float* const*, float* const*, int);
FloorPass bestFloor() {
#if TARNVALE_X86_KERNELS
    if (tarnvale::kernelRuns(tarnvale::KernelIsa::avx512)) return floorPass_avx512;
    if (tarnvale::kernelRuns(tarnvale::KernelIsa::avx2)) return floorPass_avx2;
#endif
    return floorPass_portable;
}

void benchTarnvale(benchmark::State& state, int frames, Situation situation, float scale, bool baseline) {
    Tarnvale t(baseline ? baselinePath : modulePath());
    Buffers b(1, scale);
    EventPlan plan(situation, frames, kPlannedBlocks);
    size_t block = 0;
    for (auto _ : state) {
        if (situation != kStatic)
            t.effect->dispatcher(t.effect, effProcessEvents, 0, 0, plan.pointers[block % kPlannedBlocks], 0.0f);
        t.effect->processReplacing(t.effect, b.inPointers.data(), b.outPointers.data(), frames);
        benchmark::ClobberMemory();
        ++block;
    }
    state.counters["frames"] = frames;
}

void benchFloor(benchmark::State& state, int frames) {
    Buffers b(1);
    const FloorPass pass = bestFloor();
    for (auto _ : state) {
        pass(b.inPointers.data(), b.outPointers.data(), frames);
        benchmark::ClobberMemory();
    }
    state.counters["frames"] = frames;
}

void benchStraightforward(benchmark::State& state, int frames, Situation situation) {
    reference::Mixer model;
    model.automation.reserve(1 << 16);
    Buffers b(1);
    EventPlan plan(situation, frames, kPlannedBlocks);
    size_t block = 0;
    for (auto _ : state) {
        if (situation != kStatic) model.queue(plan.midi[block % kPlannedBlocks]);
        model.process(b.inPointers.data(), b.outPointers.data(), frames);
        if (model.automation.size() > (1 << 15)) model.automation.clear();
        benchmark::ClobberMemory();
        ++block;
    }
    state.counters["frames"] = frames;
}

// The LV2 edition through its descriptor, as an LV2 host runs it: every
// port connected (meters only when asked), the controls at their defaults
// unless a cell moves them, activated.
struct Lv2Tarnvale {
    Lv2Tarnvale(Buffers& b, uint32_t meters, float smoothing, bool scattered = false) {
        handle = dlopen(TARNVALE_LV2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "tarnvale-bench: %s\n", dlerror());
            std::exit(2);
        }
        auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(handle, "lv2_descriptor"));
        descriptor = entry != nullptr ? entry(0) : nullptr;
        if (descriptor == nullptr) {
            std::fprintf(stderr, "tarnvale-bench: no LV2 descriptor in %s\n", TARNVALE_LV2_MODULE_PATH);
            std::exit(2);
        }
        const LV2_Feature* features[] = {&mapFeature, nullptr};
        instance = descriptor->instantiate(descriptor, 48000.0, "", features);
        using namespace tarnvale;
        using namespace tarnvale::lv2;
        // In control order, as hosts commonly keep them, or scattered (each
        // port's value at a place of its own, in no order).
        for (int c = 0; c < kNumControls; ++c) {
            const int at = scattered ? c * 37 % kNumControls : c;
            values_[at] = controlRange(c).defaultValue;
            controls[c] = &values_[at];
            descriptor->connect_port(instance, controlPort(c), controls[c]);
        }
        *controls[kSmoothingControl] = smoothing;
        for (uint32_t k = 0; k < kNumInputs; ++k) descriptor->connect_port(instance, kFirstAudioIn + k, b.inPointers[k]);
        for (uint32_t k = 0; k < kNumOutputs; ++k) descriptor->connect_port(instance, kFirstAudioOut + k, b.outPointers[k]);
        for (uint32_t p = 0; p < kNumParams; ++p) descriptor->connect_port(instance, kFirstValueOut + p, &values[p]);
        for (uint32_t p = 0; p < kNumPairs; ++p) descriptor->connect_port(instance, kFirstMeterPort + p, ((meters >> p) & 1u) != 0 ? &peaks[p] : nullptr);
        midi.atom.size = sizeof(LV2_Atom_Sequence_Body);
        midi.atom.type = 0;
        descriptor->connect_port(instance, kMidiIn, &midi);
        descriptor->activate(instance);
    }
    ~Lv2Tarnvale() {
        descriptor->deactivate(instance);
        descriptor->cleanup(instance);
        dlclose(handle);
    }
    static LV2_URID map(LV2_URID_Map_Handle, const char* uri) {
        static std::map<std::string, LV2_URID> ids;
        return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
    void* handle;
    const LV2_Descriptor* descriptor;
    LV2_Handle instance;
    LV2_URID_Map urids{nullptr, map};
    LV2_Feature mapFeature{LV2_URID__map, &urids};
    float values_[tarnvale::kNumControls];
    float* controls[tarnvale::kNumControls];
    float values[tarnvale::kNumParams];
    float peaks[tarnvale::kNumPairs];
    LV2_Atom_Sequence midi{};
};

// The LV2 cells: static controls, every channel ramping (the master volume
// moved every block, with ramps longer than a block), or every meter
// connected.
enum Lv2Mode { kLv2Static = 0, kLv2Ramping = 1, kLv2Metered = 2, kLv2MainMeter = 3, kLv2Scattered = 4 };
const char* const kLv2ModeNames[] = {"static controls", "every channel ramping", "every meter connected",
                                     "the main output's meter connected", "static controls, ports scattered"};
constexpr int kSmallBlocks[] = {1, 2, 4, 8, 16, 64};

void benchLv2(benchmark::State& state, int frames, Lv2Mode mode) {
    if (std::strlen(TARNVALE_LV2_MODULE_PATH) == 0) {
        state.SkipWithError("the LV2 edition was not built");
        return;
    }
    Buffers b(1);
    const uint32_t meters = mode == kLv2Metered ? (1u << tarnvale::kNumPairs) - 1 : mode == kLv2MainMeter ? 1u : 0u;
    Lv2Tarnvale t(b, meters, mode == kLv2Ramping ? 100.0f : 5.0f, mode == kLv2Scattered);
    const int volume = tarnvale::paramIndex(0, tarnvale::kVolume);
    size_t block = 0;
    for (auto _ : state) {
        if (mode == kLv2Ramping) *t.controls[volume] = (block & 1) != 0 ? 100.0f : 99.0f;
        t.descriptor->run(t.instance, static_cast<uint32_t>(frames));
        benchmark::ClobberMemory();
        ++block;
    }
    state.counters["frames"] = frames;
}

// Each cell is the fastest of several short repetitions, run in random
// order across all cells: on a shared machine other work only ever adds
// time, so the minimum is the steadiest figure, and interleaving gives every
// cell the same chances at the machine's quiet moments.
constexpr int kRepetitions = 12;
constexpr double kRepetitionSeconds = 0.1;
double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

// Collects each benchmark's fastest time per frame for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Aggregate || run.aggregate_name != "min") continue;
            const auto it = run.counters.find("frames");
            const double frames = it != run.counters.end() ? static_cast<double>(it->second) : 1.0;
            nsPerFrame[run.run_name.function_name] = run.GetAdjustedCPUTime() / frames;
        }
    }
    std::map<std::string, double> nsPerFrame;
};

std::string name(const char* engine, int frames, int situation) {
    return std::string(engine) + "/" + std::to_string(frames) + "/" + std::to_string(situation);
}

// Runs every block size and situation through Tarnvale and the
// straightforward engine with the same inputs, events and host-side
// parameter writes, and compares every sample, parameter and automation call.
int check() {
    int failures = 0;
    for (int frames : kBlocks)
        for (int s = 0; s < 3; ++s) {
            Tarnvale t;
            reference::Mixer model;
            std::vector<std::pair<VstInt32, float>> automation;
            BenchHost::log = &automation;
            Buffers b(static_cast<unsigned>(frames + s));
            std::vector<std::vector<float>> expected(38, std::vector<float>(kMaxFrames));
            std::vector<float*> expectedPointers;
            for (auto& v : expected) expectedPointers.push_back(v.data());
            EventPlan plan(static_cast<Situation>(s), frames, kPlannedBlocks);
            std::mt19937 rng(static_cast<unsigned>(frames * 3 + s));
            std::uniform_real_distribution<float> unit(0.0f, 1.0f);
            double worst = 0.0;
            for (int block = 0; block < kPlannedBlocks; ++block) {
                if (block % 3 == 1) {  // the host moves a fader between blocks
                    const int index = static_cast<int>(rng() % 68);
                    const float value = unit(rng);
                    t.effect->setParameter(t.effect, index, value);
                    model.params[index] = value;
                }
                if (s != kStatic) {
                    t.effect->dispatcher(t.effect, effProcessEvents, 0, 0, plan.pointers[block], 0.0f);
                    model.queue(plan.midi[block]);
                }
                t.effect->processReplacing(t.effect, b.inPointers.data(), b.outPointers.data(), frames);
                model.process(b.inPointers.data(), expectedPointers.data(), frames);
                for (int k = 0; k < 38; ++k)
                    for (int i = 0; i < frames; ++i) {
                        const double d = std::fabs(static_cast<double>(b.out[k][i]) - expected[k][i]);
                        const double allowed = 5e-5 + 2e-6 * std::fabs(expected[k][i]);
                        if (d > allowed) ++failures;
                        worst = std::max(worst, d);
                    }
            }
            bool same = automation.size() == model.automation.size();
            for (size_t i = 0; same && i < automation.size(); ++i)
                same = automation[i].first == model.automation[i].index && automation[i].second == model.automation[i].value;
            for (int index = 0; index < 68; ++index)
                same = same && t.effect->getParameter(t.effect, index) == model.params[index];
            if (!same) ++failures;
            BenchHost::log = nullptr;
            std::printf("check %4d frames, %-32s automation %4zu calls %s, largest sample difference %.2g\n", frames,
                        kSituationNames[s], automation.size(), same ? "equal" : "DIFFER", worst);
        }
    // Inputs below the normal range come out as exact zeros on every path,
    // however the host left the processor's denormal handling.
    for (int frames : kBlocks)
        for (int s = 0; s < 3; ++s) {
            Tarnvale t;
            Buffers b(static_cast<unsigned>(frames + s), kSubnormal);
            EventPlan plan(static_cast<Situation>(s), frames, kPlannedBlocks);
            long nonzero = 0;
            for (int block = 0; block < kPlannedBlocks; ++block) {
                if (s != kStatic) t.effect->dispatcher(t.effect, effProcessEvents, 0, 0, plan.pointers[block], 0.0f);
                t.effect->processReplacing(t.effect, b.inPointers.data(), b.outPointers.data(), frames);
                for (int k = 0; k < 38; ++k)
                    for (int i = 0; i < frames; ++i) nonzero += b.out[k][i] != 0.0f;
            }
            failures += nonzero != 0;
            std::printf("check %4d frames, %-32s subnormal input: %s\n", frames, kSituationNames[s],
                        nonzero == 0 ? "exact zeros out" : "NONZERO OUTPUT");
        }
    std::printf("check: %s\n", failures == 0 ? "Tarnvale equals the straightforward engine" : "FAILED");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool checkOnly = false, withCheck = true, lv2Only = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) checkOnly = true;
        else if (std::strcmp(argv[i], "--no-check") == 0) withCheck = false;
        else if (std::strcmp(argv[i], "--baseline") == 0 && i + 1 < argc) baselinePath = argv[++i];
        else if (std::strcmp(argv[i], "--lv2") == 0) {
            lv2Only = true;
            withCheck = false;
        }
        else args.push_back(argv[i]);
    }
    std::printf("mix kernel: %s\n", tarnvale::selectedKernel().name);
    if (checkOnly || withCheck) {
        const int result = check();
        if (checkOnly || result != 0) return result;
    }

    auto repeated = [](benchmark::internal::Benchmark* b) {
        b->Repetitions(kRepetitions)->MinTime(kRepetitionSeconds)->ComputeStatistics("min", fastest)->DisplayAggregatesOnly(true);
    };
    for (int frames : kSmallBlocks) {
        repeated(benchmark::RegisterBenchmark(name("lv2", frames, kLv2Static).c_str(), benchLv2, frames, kLv2Static));
        repeated(benchmark::RegisterBenchmark(name("lv2", frames, kLv2Scattered).c_str(), benchLv2, frames, kLv2Scattered));
        repeated(benchmark::RegisterBenchmark(name("vst", frames, 0).c_str(), benchTarnvale, frames, kStatic, kOrdinary, false));
        if (!baselinePath.empty())
            repeated(benchmark::RegisterBenchmark(name("baseline-vst", frames, 0).c_str(), benchTarnvale, frames, kStatic,
                                                  kOrdinary, true));
    }
    for (Lv2Mode mode : {kLv2Static, kLv2Ramping, kLv2Metered, kLv2MainMeter})
        repeated(benchmark::RegisterBenchmark(name("lv2", 512, mode).c_str(), benchLv2, 512, mode));
    for (int frames : kBlocks) {
        if (lv2Only) break;
        for (int s = 0; s < 3; ++s) {
            const auto situation = static_cast<Situation>(s);
            repeated(benchmark::RegisterBenchmark(name("tarnvale", frames, s).c_str(), benchTarnvale, frames, situation,
                                                  kOrdinary, false));
            repeated(benchmark::RegisterBenchmark(name("subnormal", frames, s).c_str(), benchTarnvale, frames,
                                                  situation, kSubnormal, false));
            repeated(benchmark::RegisterBenchmark(name("straightforward", frames, s).c_str(), benchStraightforward,
                                                  frames, situation));
            if (!baselinePath.empty()) {
                repeated(benchmark::RegisterBenchmark(name("baseline", frames, s).c_str(), benchTarnvale, frames,
                                                      situation, kOrdinary, true));
                repeated(benchmark::RegisterBenchmark(name("baseline-subnormal", frames, s).c_str(), benchTarnvale,
                                                      frames, situation, kSubnormal, true));
            }
        }
        repeated(benchmark::RegisterBenchmark(name("floor", frames, 0).c_str(), benchFloor, frames));
    }
    // Per-frame figures: each benchmark reports its frames as a counter.
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);  // later arguments may turn it off
    int argcAfter = static_cast<int>(args.size());
    benchmark::Initialize(&argcAfter, args.data());
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    if (!lv2Only) {
        std::printf("\n| block | situation | Tarnvale ns/frame | floor ns/frame | straightforward ns/frame | Tarnvale/floor | straightforward/Tarnvale | subnormal input ns/frame | subnormal/ordinary |\n");
        std::printf("|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
        for (int frames : kBlocks)
            for (int s = 0; s < 3; ++s) {
                const double t = reporter.nsPerFrame[name("tarnvale", frames, s)];
                const double f = reporter.nsPerFrame[name("floor", frames, 0)];
                const double p = reporter.nsPerFrame[name("straightforward", frames, s)];
                const double d = reporter.nsPerFrame[name("subnormal", frames, s)];
                if (t <= 0 || f <= 0 || p <= 0 || d <= 0) continue;
                std::printf("| %d | %s | %.2f | %.2f | %.2f | %.2f | %.1f | %.2f | %.2f |\n", frames, kSituationNames[s], t, f, p,
                            t / f, p / t, d, d / t);
            }
    }
    if (!baselinePath.empty()) {
        // This build's VST 2.4 edition against the baseline build's, cell by cell.
        std::printf("\n| block | situation | this build ns/frame | baseline ns/frame | this/baseline |\n|---:|---|---:|---:|---:|\n");
        auto row = [&](int frames, const char* situation, const std::string& mine, const std::string& theirs) {
            const double t = reporter.nsPerFrame[mine], b = reporter.nsPerFrame[theirs];
            if (t > 0 && b > 0) std::printf("| %d | %s | %.3f | %.3f | %.3f |\n", frames, situation, t, b, t / b);
        };
        for (int frames : kSmallBlocks) row(frames, kSituationNames[0], name("vst", frames, 0), name("baseline-vst", frames, 0));
        for (int frames : kBlocks)
            for (int s = 0; s < 3; ++s) row(frames, kSituationNames[s], name("tarnvale", frames, s), name("baseline", frames, s));
        for (int frames : kBlocks)
            for (int s = 0; s < 3; ++s)
                row(frames, (std::string(kSituationNames[s]) + ", subnormal input").c_str(), name("subnormal", frames, s),
                    name("baseline-subnormal", frames, s));
    }
    // The LV2 edition against the VST 2.4 edition per block size (static
    // controls, every port connected but the meters), and at 512 frames its
    // ramps and meters against its static mix.
    std::printf("\n| block | LV2 edition ns/frame | VST 2.4 edition ns/frame | LV2/VST 2.4 | LV2, ports scattered, ns/frame | scattered LV2/VST 2.4 |\n"
                "|---:|---:|---:|---:|---:|---:|\n");
    for (int frames : kSmallBlocks) {
        const double l = reporter.nsPerFrame[name("lv2", frames, kLv2Static)], v = reporter.nsPerFrame[name("vst", frames, 0)];
        const double x = reporter.nsPerFrame[name("lv2", frames, kLv2Scattered)];
        if (l > 0 && v > 0 && x > 0) std::printf("| %d | %.2f | %.2f | %.2f | %.2f | %.2f |\n", frames, l, v, l / v, x, x / v);
    }
    std::printf("\n| 512 frames, LV2 edition | ns/frame | against static controls |\n|---|---:|---:|\n");
    const double base = reporter.nsPerFrame[name("lv2", 512, kLv2Static)];
    for (Lv2Mode mode : {kLv2Static, kLv2Ramping, kLv2Metered, kLv2MainMeter}) {
        const double t = reporter.nsPerFrame[name("lv2", 512, mode)];
        if (t > 0 && base > 0) std::printf("| %s | %.2f | %.2f |\n", kLv2ModeNames[mode], t, t / base);
    }
    return 0;
}
