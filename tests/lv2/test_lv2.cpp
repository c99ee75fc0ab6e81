// The LV2 edition as LV2 hosts meet it: the bundle in the build tree, read
// and instantiated through lilv; its ports checked against the parameter and
// pin tables, its mix against the per-frame reference model, and a render
// through lv2apply, the command-line host lilv ships.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/port-groups/port-groups.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/vst_host.h"
#include "lv2/ports.h"
#include "support/command_lines.h"
#include "support/reference_mixer.h"

#ifndef TARNVALE_LV2_PATH
#error "TARNVALE_LV2_PATH must name the folder holding the built bundle"
#endif

namespace {

using namespace tarnvale;
using namespace tarnvale::lv2;

// A URID map as hosts offer it.
struct UridMap {
    std::map<std::string, LV2_URID> ids;
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
        auto& ids = static_cast<UridMap*>(handle)->ids;
        const auto found = ids.find(uri);
        if (found != ids.end()) return found->second;
        const auto id = static_cast<LV2_URID>(ids.size() + 1);
        ids.emplace(uri, id);
        return id;
    }
    static const char* unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        for (const auto& entry : static_cast<UridMap*>(handle)->ids)
            if (entry.second == urid) return entry.first.c_str();
        return nullptr;
    }
    LV2_URID_Map feature{this, map};
    LV2_URID_Unmap unmapFeature{this, unmap};
    LV2_Feature mapFeature{LV2_URID__map, &feature};
    LV2_Feature unmapFeat{LV2_URID__unmap, &unmapFeature};
    const LV2_Feature* features[3] = {&mapFeature, &unmapFeat, nullptr};
    LV2_URID operator()(const char* uri) { return map(this, uri); }
};

// The world, with the bundle of the build tree loaded, shared by the tests.
struct World {
    World() : world(lilv_world_new()) {
        const std::string path = std::string(TARNVALE_LV2_PATH) + "/tarnvale.lv2/";
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, path.c_str());
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, kPluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~World() { lilv_world_free(world); }
    LilvNode* node(const char* uri) { return lilv_new_uri(world, uri); }
    LilvWorld* world;
    const LilvPlugin* plugin = nullptr;
};

World& world() {
    static World w;
    return w;
}

// An atom sequence of MIDI events, as a host fills the MIDI port.
class Sequence {
public:
    Sequence(UridMap& map) : midi(map(LV2_MIDI__MidiEvent)), type(map(LV2_ATOM__Sequence)) { clear(); }
    void clear() {
        auto* seq = get();
        seq->atom.type = type;
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq->body.unit = 0;
        seq->body.pad = 0;
    }
    void add(int64_t frame, uint8_t status, uint8_t data1, uint8_t data2) {
        struct {
            LV2_Atom_Event header;
            uint8_t bytes[3];
        } event{};
        event.header.time.frames = frame;
        event.header.body.type = midi;
        event.header.body.size = 3;
        event.bytes[0] = status;
        event.bytes[1] = data1;
        event.bytes[2] = data2;
        ASSERT_NE(lv2_atom_sequence_append_event(get(), sizeof buffer - sizeof(LV2_Atom), &event.header), nullptr);
    }
    LV2_Atom_Sequence* get() { return reinterpret_cast<LV2_Atom_Sequence*>(buffer); }

private:
    LV2_URID midi, type;
    alignas(8) uint8_t buffer[65536];
};

// One instance with every port connected: audio in blocks of up to
// kMaxFrames, control values as the panel shows them (the switches off, the
// smoothing as given: 0, today's steps, unless a test is about ramps),
// MIDI, value outputs and meters.
class Instance {
public:
    static constexpr int kMaxFrames = 4096;
    explicit Instance(const LV2_Feature* const* features, float smoothing = 0.0f, double rate = 48000.0)
        : in(kNumInputs, std::vector<float>(kMaxFrames)), out(kNumOutputs, std::vector<float>(kMaxFrames)) {
        instance = lilv_plugin_instantiate(world().plugin, rate, features);
        if (instance == nullptr) return;
        for (int c = 0; c < kNumControls; ++c) controls[c] = controlRange(c).defaultValue;
        controls[kSmoothingControl] = smoothing;
        for (float& m : meters) m = 1234.0f;
        for (uint32_t k = 0; k < static_cast<uint32_t>(kNumInputs); ++k)
            lilv_instance_connect_port(instance, kFirstAudioIn + k, in[k].data());
        for (uint32_t k = 0; k < static_cast<uint32_t>(kNumOutputs); ++k)
            lilv_instance_connect_port(instance, kFirstAudioOut + k, out[k].data());
        for (int c = 0; c < kNumControls; ++c) lilv_instance_connect_port(instance, controlPort(c), &controls[c]);
        for (uint32_t p = 0; p < static_cast<uint32_t>(kNumParams); ++p)
            lilv_instance_connect_port(instance, kFirstValueOut + p, &values[p]);
        for (uint32_t p = 0; p < static_cast<uint32_t>(kNumPairs); ++p)
            lilv_instance_connect_port(instance, kFirstMeterPort + p, &meters[p]);
        lilv_instance_activate(instance);
    }
    ~Instance() {
        if (instance == nullptr) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    void connectMidi(Sequence* sequence) { lilv_instance_connect_port(instance, kMidiIn, sequence ? sequence->get() : nullptr); }
    void run(int frames) { lilv_instance_run(instance, static_cast<uint32_t>(frames)); }

    LilvInstance* instance = nullptr;
    std::vector<std::vector<float>> in, out;
    float controls[kNumControls] = {};  // in the engine's control order
    float values[kNumParams] = {};
    float meters[kNumPairs] = {};
    LV2_URID floatType = 0;  // for the state tests' port values
};

// The binary exports lv2_descriptor alone and needs nothing but the C
// library (and libm): its C++ runtime is built in.
TEST(Lv2Bundle, BinaryExportsOnlyTheDescriptor) {
    const std::string binary = std::string(TARNVALE_LV2_PATH) + "/tarnvale.lv2/" + kBinary;
    EXPECT_EQ(elf::exportedSymbols(binary), (std::set<std::string>{"lv2_descriptor"}));
#if !TARNVALE_SANITIZED
    const auto needed = elf::neededLibraries(binary);
    ASSERT_FALSE(needed.empty());
    for (const auto& library : needed)
        EXPECT_TRUE(library == "libc.so.6" || library == "libm.so.6") << library << " is not the C library or libm";
#endif
}

TEST(Lv2Bundle, EveryPortAsTheTablesSay) {
    World& w = world();
    ASSERT_NE(w.plugin, nullptr) << "the bundle in " << TARNVALE_LV2_PATH << " does not offer " << kPluginUri;
    ASSERT_EQ(lilv_plugin_get_num_ports(w.plugin), kNumPorts);
    LilvNode* audio = w.node(LV2_CORE__AudioPort);
    LilvNode* controlClass = w.node(LV2_CORE__ControlPort);
    LilvNode* atom = w.node(LV2_ATOM__AtomPort);
    LilvNode* input = w.node(LV2_CORE__InputPort);
    LilvNode* output = w.node(LV2_CORE__OutputPort);
    LilvNode* unit = w.node(LV2_UNITS__unit);
    LilvNode* percent = w.node(LV2_UNITS__pc);
    LilvNode* optional = w.node(LV2_CORE__connectionOptional);
    LilvNode* midiEvent = w.node(LV2_MIDI__MidiEvent);
    LilvNode* toggled = w.node(LV2_CORE__toggled);
    for (uint32_t index = 0; index < kNumPorts; ++index) {
        const LilvPort* port = lilv_plugin_get_port_by_index(w.plugin, index);
        ASSERT_NE(port, nullptr) << index;
        const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(w.plugin, port));
        LilvNode* nameNode = lilv_port_get_name(w.plugin, port);
        const std::string name = lilv_node_as_string(nameNode);
        lilv_node_free(nameNode);
        SCOPED_TRACE("port " + std::to_string(index) + " " + symbol);
        if (index < kFirstAudioOut || index < kFirstControl) {
            const bool in = index < kFirstAudioOut;
            const PinInfo& pin = in ? kInputPins[index] : kOutputPins[index - kFirstAudioOut];
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, audio));
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, in ? input : output));
            EXPECT_EQ(symbol, pin.symbol);
            EXPECT_EQ(name, pin.label);
        } else if (index >= kFirstMeterPort) {
            const int pair = static_cast<int>(index - kFirstMeterPort);
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, controlClass));
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, output));
            EXPECT_TRUE(lilv_port_has_property(w.plugin, port, optional));
            char pairSym[32];
            pairSymbol(kOutputPins[2 * pair], pairSym, sizeof pairSym);
            EXPECT_EQ(symbol, std::string(pairSym) + kMeterSymbolSuffix);
            LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
            lilv_port_get_range(w.plugin, port, &def, &min, &max);
            ASSERT_TRUE(def && min && max);
            EXPECT_EQ(lilv_node_as_float(min), kMeterLaw.floorDb);
            EXPECT_EQ(lilv_node_as_float(max), kMeterLaw.ceilingDb);
            for (LilvNode* n : {def, min, max}) lilv_node_free(n);
        } else if (index >= kFirstSwitchPort) {
            const int c = controlOfPort(index);
            ASSERT_GE(c, kNumParams);
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, controlClass));
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, input));
            char controlSym[32], controlLabel[32];
            controlSymbol(c, controlSym, sizeof controlSym);
            controlName(c, controlLabel, sizeof controlLabel);
            EXPECT_EQ(symbol, controlSym);
            EXPECT_EQ(name, controlLabel);
            LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
            lilv_port_get_range(w.plugin, port, &def, &min, &max);
            ASSERT_TRUE(def && min && max);
            EXPECT_EQ(lilv_node_as_float(def), c == kSmoothingControl ? 5.0f : 0.0f);
            EXPECT_EQ(lilv_node_as_float(min), 0.0f);
            EXPECT_EQ(lilv_node_as_float(max), c == kSmoothingControl ? 100.0f : 1.0f);
            EXPECT_EQ(lilv_port_has_property(w.plugin, port, toggled), c != kSmoothingControl);
            for (LilvNode* n : {def, min, max}) lilv_node_free(n);
        } else if (index == kMidiIn) {
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, atom));
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, input));
            EXPECT_TRUE(lilv_port_has_property(w.plugin, port, optional));
            EXPECT_TRUE(lilv_port_supports_event(w.plugin, port, midiEvent));
            EXPECT_EQ(symbol, "midi_in");
        } else {
            const bool in = index < kMidiIn;
            const int p = static_cast<int>(in ? index - kFirstControl : index - kFirstValueOut);
            const ParameterInfo& info = kParameters[p];
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, controlClass));
            EXPECT_TRUE(lilv_port_is_a(w.plugin, port, in ? input : output));
            EXPECT_EQ(symbol, std::string(info.symbol) + (in ? "" : kValueSymbolSuffix));
            EXPECT_EQ(name, std::string(info.name) + (in ? "" : kValueNameSuffix));
            LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
            lilv_port_get_range(w.plugin, port, &def, &min, &max);
            ASSERT_TRUE(def && min && max);
            // Pans -1..1 (centre 0); master levels 0..400 %, channel levels
            // 0..128 %, volumes at 100 %, channel sends at 0.
            const float expectedDefault = info.kind == kPan ? 0.0f : info.defaultValue == 0.0f ? 0.0f : 100.0f;
            EXPECT_FLOAT_EQ(lilv_node_as_float(def), expectedDefault);
            EXPECT_FLOAT_EQ(lilv_node_as_float(min), info.kind == kPan ? -1.0f : 0.0f);
            EXPECT_FLOAT_EQ(lilv_node_as_float(max), info.kind == kPan ? 1.0f : p < 4 ? 400.0f : 128.0f);
            // The default as a port value mixes exactly as the stored default.
            EXPECT_EQ(storeValue(p, lilv_node_as_float(def)), info.defaultValue);
            lilv_node_free(def);
            lilv_node_free(min);
            lilv_node_free(max);
            LilvNodes* units = lilv_port_get_value(w.plugin, port, unit);
            const bool hasPercent = units != nullptr && lilv_nodes_contains(units, percent);
            EXPECT_EQ(hasPercent, info.kind != kPan);
            lilv_nodes_free(units);
        }
    }
    for (LilvNode* n : {audio, controlClass, atom, input, output, unit, percent, optional, midiEvent, toggled})
        lilv_node_free(n);
}

// Random settings, block sizes from 1 to 4096 and MIDI through the atom
// sequence: every output sample as the per-frame model mixes it, and the
// value outputs showing what the mix uses.
TEST(Lv2Instance, MixMatchesTheModel) {
    UridMap map;
    Instance plugin(map.features);
    ASSERT_NE(plugin.instance, nullptr);
    Sequence sequence(map);
    plugin.connectMidi(&sequence);
    reference::Mixer model;
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f), unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> frames(1, Instance::kMaxFrames), controller(0, 127), value(0, 127);
    std::vector<float> expected(static_cast<size_t>(kNumOutputs) * Instance::kMaxFrames);
    for (int block = 0; block < 40; ++block) {
        const int n = block == 0 ? 1 : block == 1 ? Instance::kMaxFrames : frames(rng);
        if (block % 3 == 0) {  // the host moves a few controls
            for (int k = 0; k < 4; ++k) {
                const int p = static_cast<int>(rng() % kNumParams);
                plugin.controls[p] = portValue(p, unit(rng));
                model.params[p] = storeValue(p, plugin.controls[p]);
            }
        }
        sequence.clear();
        std::vector<reference::Midi> events;
        const int count = static_cast<int>(rng() % 30);
        for (int e = 0; e < count; ++e) {
            const auto at = static_cast<int32_t>(rng() % static_cast<unsigned>(n));
            const reference::Midi m{at, static_cast<uint8_t>(0xB0 | (e % 16)), static_cast<uint8_t>(controller(rng)),
                                    static_cast<uint8_t>(value(rng))};
            events.push_back(m);
        }
        std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.deltaFrames < b.deltaFrames; });
        for (const auto& m : events) sequence.add(m.deltaFrames, m.status, m.data1, m.data2);
        model.queue(events);
        for (auto& channel : plugin.in)
            for (int i = 0; i < n; ++i) channel[static_cast<size_t>(i)] = signal(rng);
        std::vector<const float*> ins;
        for (auto& channel : plugin.in) ins.push_back(channel.data());
        std::vector<float*> outs;
        for (int k = 0; k < kNumOutputs; ++k) outs.push_back(expected.data() + static_cast<size_t>(k) * Instance::kMaxFrames);
        model.process(ins.data(), outs.data(), n);
        plugin.run(n);
        for (int k = 0; k < kNumOutputs; ++k)
            for (int i = 0; i < n; ++i) {
                const float e = outs[static_cast<size_t>(k)][i];
                ASSERT_NEAR(plugin.out[k][static_cast<size_t>(i)], e, 5e-5f + 2e-6f * std::fabs(e))
                    << "block " << block << " output " << k << " frame " << i;
            }
        for (int p = 0; p < kNumParams; ++p) ASSERT_EQ(plugin.values[p], portValue(p, model.params[p])) << "parameter " << p;
    }
}

// A MIDI move holds until the host moves the control; then the host's value
// takes over from the next block, and the value output follows both.
TEST(Lv2Instance, HostMovesTakeOverFromMidiMoves) {
    UridMap map;
    Instance plugin(map.features);
    ASSERT_NE(plugin.instance, nullptr);
    Sequence sequence(map);
    plugin.connectMidi(&sequence);
    for (auto& channel : plugin.in) std::fill(channel.begin(), channel.end(), 0.25f);
    const int volume = paramIndex(0, kVolume);
    // Master Volume to 16/128 (50 %): the main bus, 16 x 0.25 at unity, halves.
    sequence.add(3, 0xB0, kParameters[volume].controller, 16);
    plugin.run(8);
    EXPECT_EQ(plugin.out[0][2], 4.0f);
    EXPECT_EQ(plugin.out[0][3], 2.0f);
    EXPECT_EQ(plugin.values[volume], 50.0f);
    sequence.clear();
    plugin.run(8);  // the port still holds 100 %: no move, the MIDI value stays
    EXPECT_EQ(plugin.out[0][0], 2.0f);
    plugin.controls[volume] = 200.0f;  // the host moves the fader
    plugin.run(8);
    EXPECT_EQ(plugin.out[0][0], 8.0f);
    EXPECT_EQ(plugin.values[volume], 200.0f);
}

// Malformed MIDI from a host: a control change with a data byte above 127
// changes nothing, and the walk stops at an event that does not fit inside
// the sequence's stated size, keeping the events before it.
TEST(Lv2Instance, MalformedMidiIsTakenWithoutEffect) {
    UridMap map;
    Instance plugin(map.features);
    ASSERT_NE(plugin.instance, nullptr);
    Sequence sequence(map);
    plugin.connectMidi(&sequence);
    const int volume = paramIndex(1, kVolume), pan = paramIndex(1, kPan), send = paramIndex(1, kSend1);
    sequence.add(0, 0xB0, kParameters[volume].controller, 0xFF);
    sequence.add(1, 0xB0, static_cast<uint8_t>(0x80 | kParameters[volume].controller), 0);
    sequence.add(2, 0xB0, kParameters[pan].controller, 0);  // valid: hard left
    sequence.add(3, 0xB0, kParameters[send].controller, 64);
    // The last event claims more bytes than the sequence holds.
    auto* seq = sequence.get();
    LV2_Atom_Event* last = nullptr;
    LV2_ATOM_SEQUENCE_FOREACH (seq, event) last = event;
    ASSERT_NE(last, nullptr);
    last->body.size = 64;
    plugin.run(8);
    EXPECT_EQ(plugin.values[volume], 100.0f) << "data bytes above 127 change nothing";
    EXPECT_EQ(plugin.values[pan], -1.0f) << "a valid event before the damaged one still applies";
    EXPECT_EQ(plugin.values[send], 0.0f) << "the event that overruns the sequence is not read";
    // A sequence whose stated size is too small for its own header.
    sequence.clear();
    sequence.add(0, 0xB0, kParameters[send].controller, 64);
    sequence.get()->atom.size = 4;
    plugin.run(8);
    EXPECT_EQ(plugin.values[send], 0.0f);
}

// Without the URID map (lv2apply passes no features) the mixer still mixes
// and ignores MIDI; in place, outputs over inputs, it mixes as apart.
TEST(Lv2Instance, NoFeaturesAndInPlace) {
    const LV2_Feature* none[] = {nullptr};
    UridMap map;
    Instance bare(none), apart(map.features), shared(map.features);
    ASSERT_TRUE(bare.instance && apart.instance && shared.instance);
    Sequence sequence(map);
    sequence.add(0, 0xB0, kParameters[paramIndex(0, kVolume)].controller, 0);
    bare.connectMidi(&sequence);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    for (int k = 0; k < kNumInputs; ++k)
        for (int i = 0; i < 256; ++i) {
            const float x = signal(rng);
            bare.in[k][static_cast<size_t>(i)] = apart.in[k][static_cast<size_t>(i)] = shared.in[k][static_cast<size_t>(i)] = x;
        }
    for (int p = 0; p < kNumParams; ++p) apart.controls[p] = shared.controls[p] = portValue(p, 0.3f + 0.01f * p);
    for (uint32_t k = 0; k < static_cast<uint32_t>(kNumInputs); ++k)
        lilv_instance_connect_port(shared.instance, kFirstAudioOut + k, shared.in[k].data());
    bare.run(256);
    apart.run(256);
    shared.run(256);
    float sum = 0.0f;
    for (int c = 0; c < kNumChannels; ++c) sum += bare.in[2 * c][100];
    EXPECT_NEAR(bare.out[0][100], sum, 1e-5f) << "MIDI ignored, defaults mixed";
    for (int k = 0; k < kNumOutputs; ++k) {
        const float* got = k < kNumInputs ? shared.in[k].data() : shared.out[k].data();
        ASSERT_EQ(std::memcmp(got, apart.out[k].data(), 256 * sizeof(float)), 0) << "output " << k;
    }
}

// lv2apply renders a 32-channel file through the bundle at the defaults:
// the main pair sums the left and right inputs, the sends stay silent and
// every direct pair equals its input pair.
TEST(Lv2Apply, RendersAFileAtTheDefaults) {
#if !defined(TARNVALE_LV2APPLY)
    GTEST_SKIP() << "lv2apply (lilv-utils) not found when the build was configured";
#elif TARNVALE_SANITIZED
    GTEST_SKIP() << "lv2apply cannot load a module built with the sanitizers' runtimes";
#else
    constexpr int kFrames = 4800, kRate = 48000;
    const std::string dir = testing::TempDir();
    const std::string inPath = dir + "tarnvale-lv2apply-in.wav", outPath = dir + "tarnvale-lv2apply-out.wav";
    std::vector<float> interleaved(static_cast<size_t>(kFrames) * kNumInputs);
    for (int i = 0; i < kFrames; ++i)
        for (int k = 0; k < kNumInputs; ++k)
            interleaved[static_cast<size_t>(i) * kNumInputs + k] =
                0.03f * static_cast<float>(std::sin(0.001 * (k + 1) * i + k));
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = kNumInputs;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(inPath.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    ASSERT_EQ(sf_writef_float(file, interleaved.data(), kFrames), kFrames);
    sf_close(file);
    const std::string launcher = TARNVALE_LAUNCHER;  // the emulator, in a build for another processor
    const std::string command = "LV2_PATH='" + std::string(TARNVALE_LV2_PATH) + "' " +
                                (launcher.empty() ? "" : "'" + launcher + "' ") + "'" TARNVALE_LV2APPLY "' -i '" + inPath +
                                "' -o '" + outPath + "' " + kPluginUri;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    SF_INFO outInfo{};
    file = sf_open(outPath.c_str(), SFM_READ, &outInfo);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    ASSERT_EQ(outInfo.channels, kNumOutputs);
    ASSERT_EQ(outInfo.frames, kFrames);
    std::vector<float> out(static_cast<size_t>(kFrames) * kNumOutputs);
    ASSERT_EQ(sf_readf_float(file, out.data(), kFrames), kFrames);
    sf_close(file);
    for (int i = 0; i < kFrames; ++i) {
        const float* x = &interleaved[static_cast<size_t>(i) * kNumInputs];
        const float* y = &out[static_cast<size_t>(i) * kNumOutputs];
        float left = 0.0f, right = 0.0f;
        for (int c = 0; c < kNumChannels; ++c) {
            left += x[2 * c];
            right += x[2 * c + 1];
            ASSERT_EQ(y[6 + 2 * c], x[2 * c]) << "frame " << i;
            ASSERT_EQ(y[7 + 2 * c], x[2 * c + 1]) << "frame " << i;
        }
        ASSERT_NEAR(y[0], left, 1e-6f) << "frame " << i;
        ASSERT_NEAR(y[1], right, 1e-6f) << "frame " << i;
        for (int k = 2; k < 6; ++k) ASSERT_EQ(y[k], 0.0f) << "send output " << k;
    }
    std::remove(inPath.c_str());
    std::remove(outPath.c_str());
#endif
}

// Every audio port sits in a stereo group as its left or right side; the
// main output's group is the plug-in's main output; and lv2info shows both.
TEST(Lv2Bundle, PortGroupsAndDesignations) {
    World& w = world();
    ASSERT_NE(w.plugin, nullptr);
    LilvNode* groupPredicate = w.node(LV2_PORT_GROUPS__group);
    LilvNode* stereo = w.node(LV2_PORT_GROUPS__StereoGroup);
    LilvNode* inputGroup = w.node(LV2_PORT_GROUPS__InputGroup);
    LilvNode* outputGroup = w.node(LV2_PORT_GROUPS__OutputGroup);
    LilvNode* left = w.node(LV2_PORT_GROUPS__left);
    LilvNode* right = w.node(LV2_PORT_GROUPS__right);
    LilvNode* mainOutput = w.node(LV2_PORT_GROUPS__mainOutput);
    LilvNode* rdfType = w.node("http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    LilvNode* designationPredicate = w.node(LV2_CORE__designation);
    std::map<std::string, std::vector<uint32_t>> members;
    for (uint32_t index = kFirstAudioIn; index < kFirstControl; ++index) {
        SCOPED_TRACE("port " + std::to_string(index));
        const LilvPort* port = lilv_plugin_get_port_by_index(w.plugin, index);
        LilvNodes* groups = lilv_port_get_value(w.plugin, port, groupPredicate);
        ASSERT_EQ(lilv_nodes_size(groups), 1u);
        const LilvNode* group = lilv_nodes_get_first(groups);
        members[lilv_node_as_uri(group)].push_back(index);
        EXPECT_TRUE(lilv_world_ask(w.world, group, rdfType, stereo));
        EXPECT_TRUE(lilv_world_ask(w.world, group, rdfType, index < kFirstAudioOut ? inputGroup : outputGroup));
        const bool isLeft = (index - (index < kFirstAudioOut ? kFirstAudioIn : kFirstAudioOut)) % 2 == 0;
        LilvNode* designation = lilv_port_get(w.plugin, port, designationPredicate);
        ASSERT_NE(designation, nullptr);
        EXPECT_TRUE(lilv_node_equals(designation, isLeft ? left : right));
        lilv_node_free(designation);
        lilv_nodes_free(groups);
    }
    EXPECT_EQ(members.size(), static_cast<size_t>(kNumInputs / 2 + kNumPairs)) << "one group per pair";
    for (const auto& m : members) {
        ASSERT_EQ(m.second.size(), 2u) << m.first;
        EXPECT_EQ(m.second[1], m.second[0] + 1) << m.first;
    }
    LilvNodes* main = lilv_plugin_get_value(w.plugin, mainOutput);
    ASSERT_EQ(lilv_nodes_size(main), 1u);
    const auto& mainPorts = members[lilv_node_as_uri(lilv_nodes_get_first(main))];
    EXPECT_EQ(mainPorts, (std::vector<uint32_t>{kFirstAudioOut + busOutput(kMainBus, kLeft), kFirstAudioOut + busOutput(kMainBus, kRight)}));
    lilv_nodes_free(main);
    for (LilvNode* n : {groupPredicate, stereo, inputGroup, outputGroup, left, right, mainOutput, rdfType, designationPredicate})
        lilv_node_free(n);
#if defined(TARNVALE_LV2INFO)
    // lv2info lists each audio port's group and designation.
    auto count = [](const std::string& pattern) {
        const auto lines = elf::commandLines("LV2_PATH='" TARNVALE_LV2_PATH "' '" TARNVALE_LV2INFO "' " + std::string(kPluginUri) +
                                             " | grep -c '" + pattern + "'");
        return lines.empty() ? -1 : std::stoi(*lines.begin());
    };
    EXPECT_EQ(count("Group: *" + std::string(kPluginUri) + "#"), kNumInputs + kNumOutputs);
    EXPECT_EQ(count("Designation: *" LV2_PORT_GROUPS__left), (kNumInputs + kNumOutputs) / 2);
    EXPECT_EQ(count("Designation: *" LV2_PORT_GROUPS__right), (kNumInputs + kNumOutputs) / 2);
    EXPECT_EQ(count("Group: *" + std::string(kPluginUri) + "#main_out"), 2);
#endif
}

// A control port's value is held to its declared range before it is used,
// and shown so on its value output; NaN mixes as the default.
TEST(Lv2Instance, ControlsAreHeldToTheirRanges) {
    UridMap map;
    Instance plugin(map.features);
    ASSERT_NE(plugin.instance, nullptr);
    for (auto& channel : plugin.in) std::fill(channel.begin(), channel.end(), 0.5f);
    const int volume = paramIndex(1, kVolume), master = paramIndex(0, kVolume), pan = paramIndex(2, kPan);
    const struct {
        float port, shown, gain;
    } cases[] = {{500.0f, 128.0f, 1.28f}, {-50.0f, 0.0f, 0.0f}, {std::nanf(""), 100.0f, 1.0f}, {64.0f, 64.0f, 0.64f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        plugin.controls[volume] = c.port;
        plugin.controls[master] = 1e9f;  // held to 400 %
        plugin.controls[pan] = -7.0f;    // held to -1 (hard left)
        plugin.run(16);
        EXPECT_EQ(plugin.values[volume], c.shown);
        EXPECT_EQ(plugin.values[master], 400.0f);
        EXPECT_EQ(plugin.values[pan], -1.0f);
        EXPECT_NEAR(plugin.out[directOutput(0, kLeft)][15], 0.5f * c.gain * 4.0f, 1e-5f);
        EXPECT_EQ(plugin.out[directOutput(1, kRight)][15], 0.0f) << "channel 2 hard left";
    }
    // A switch takes anything above 0 as on, and the smoothing its range.
    plugin.controls[switchControl(0, kMute)] = 37.0f;
    plugin.controls[kSmoothingControl] = -3.0f;
    plugin.run(16);
    EXPECT_EQ(plugin.out[directOutput(0, kLeft)][0], 0.0f);
}

// Smoothing through the ports: 5 ms by default, 240 frames at 48 kHz, from
// the block start; the first block after activate takes the ports' values
// at once; a switch ramps too.
TEST(Lv2Instance, SmoothedChangesAndTheFirstBlock) {
    UridMap map;
    Instance plugin(map.features, kSmoothing.defaultMs);
    ASSERT_NE(plugin.instance, nullptr);
    for (auto& channel : plugin.in) std::fill(channel.begin(), channel.end(), 1.0f);
    const int volume = paramIndex(1, kVolume);
    plugin.controls[volume] = 50.0f;
    plugin.run(64);
    EXPECT_EQ(plugin.out[directOutput(0, kLeft)][0], 0.5f) << "no ramp from the defaults in the first block";
    plugin.controls[volume] = 100.0f;
    plugin.run(300);
    const std::vector<float>& g = plugin.out[directOutput(0, kLeft)];
    EXPECT_NEAR(g[0], 0.5f + 0.5f / 240, 1e-6f);
    EXPECT_LT(g[238], 1.0f);
    EXPECT_EQ(g[239], 1.0f);
    for (int f = 1; f < 300; ++f) ASSERT_LE(std::fabs(g[f] - g[f - 1]), 0.5f / 240 + 1e-6f);
    plugin.controls[switchControl(0, kMute)] = 1.0f;
    plugin.run(300);
    EXPECT_NEAR(g[0], 1.0f - 1.0f / 240, 1e-6f) << "a mute fades";
    EXPECT_EQ(g[239], 0.0f);
    // Deactivated and activated again, a new first block: at once.
    plugin.controls[switchControl(0, kMute)] = 0.0f;
    lilv_instance_deactivate(plugin.instance);
    lilv_instance_activate(plugin.instance);
    plugin.run(8);
    EXPECT_EQ(g[0], 1.0f);
}

// With smoothing at 0 the LV2 edition mixes exactly as the VST 2.4 edition,
// bit for bit, with the same settings and MIDI in blocks of any size.
TEST(Lv2Instance, SmoothingZeroMixesAsTheVstEdition) {
    std::string error;
    auto module = vsthost::Module::load(TARNVALE_MODULE_PATH, error);
    ASSERT_TRUE(module) << error;
    vsthost::Host host;
    auto vst = vsthost::Plugin::create(*module, host, error);
    ASSERT_TRUE(vst) << error;
    vst->start(48000.0f, Instance::kMaxFrames);
    UridMap map;
    Instance plugin(map.features, 0.0f);
    ASSERT_NE(plugin.instance, nullptr);
    Sequence sequence(map);
    plugin.connectMidi(&sequence);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f), unit(0.0f, 1.0f);
    std::vector<std::vector<float>> vstOut(kNumOutputs, std::vector<float>(Instance::kMaxFrames));
    for (int block = 0; block < 30; ++block) {
        const int n = 1 + static_cast<int>(rng() % 1024);
        if (block % 4 == 0)
            for (int k = 0; k < 5; ++k) {
                const int p = static_cast<int>(rng() % kNumParams);
                plugin.controls[p] = portValue(p, unit(rng));
                vst->setParameter(p, storeValue(p, clampToRange(p, plugin.controls[p])));  // as the face stores it
            }
        sequence.clear();
        vsthost::EventList list;
        for (int e = 0, count = static_cast<int>(rng() % 20); e < count; ++e) {
            const int at = e * n / 20;
            const uint8_t cc = kParameters[rng() % kNumParams].controller, v = static_cast<uint8_t>(rng() % 128);
            sequence.add(at, 0xB0, cc, v);
            list.midi(at, 0xB0, cc, v);
        }
        vst->processEvents(list);
        for (auto& channel : plugin.in)
            for (int i = 0; i < n; ++i) channel[static_cast<size_t>(i)] = signal(rng);
        std::vector<float*> ins, outs;
        for (auto& channel : plugin.in) ins.push_back(channel.data());
        for (auto& channel : vstOut) outs.push_back(channel.data());
        vst->processReplacing(ins.data(), outs.data(), n);
        plugin.run(n);
        for (int k = 0; k < kNumOutputs; ++k)
            ASSERT_EQ(std::memcmp(plugin.out[k].data(), vstOut[k].data(), sizeof(float) * static_cast<size_t>(n)), 0)
                << "block " << block << ", output " << k;
    }
}

// The meters: each connected one reads its pair's peak in dBFS (here on
// the first block, so no hold or fall yet); an unconnected one is never
// written; a reading or value output that did not change is not written
// again.
TEST(Lv2Instance, MetersAndOutputsWrittenOnlyWhenChanged) {
    UridMap map;
    Instance plugin(map.features);
    ASSERT_NE(plugin.instance, nullptr);
    const int skipped = pairOf(directOutput(4, kLeft));
    lilv_instance_connect_port(plugin.instance, kFirstMeterPort + skipped, nullptr);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    for (int k = 0; k < kNumInputs; ++k)
        for (int i = 0; i < 512; ++i) plugin.in[k][static_cast<size_t>(i)] = signal(rng) * 0.1f * static_cast<float>(k % 5);
    plugin.controls[paramIndex(3, kSend1)] = 100.0f;
    plugin.run(512);
    for (int p = 0; p < kNumPairs; ++p) {
        if (p == skipped) {
            EXPECT_EQ(plugin.meters[p], 1234.0f) << "an unconnected meter is left alone";
            continue;
        }
        float peak = 0.0f;
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < 512; ++i) peak = std::max(peak, std::fabs(plugin.out[2 * p + side][static_cast<size_t>(i)]));
        const float expected = peak > 0.0f ? std::max(kMeterLaw.floorDb, 20.0f * std::log10(peak)) : kMeterLaw.floorDb;
        EXPECT_NEAR(plugin.meters[p], expected, 1e-3f) << "pair " << p;
    }
    EXPECT_EQ(plugin.meters[pairOf(busOutput(kSend2Bus, kLeft))], kMeterLaw.floorDb) << "a silent bus";
    // Nothing changes: the host's marks in the outputs stay.
    for (auto& channel : plugin.in) std::fill(channel.begin(), channel.end(), 0.0f);
    plugin.run(64);
    const int send2 = pairOf(busOutput(kSend2Bus, kLeft));
    plugin.meters[send2] = 555.0f;
    plugin.values[5] = 555.0f;
    plugin.run(64);
    EXPECT_EQ(plugin.meters[send2], 555.0f) << "a reading that stayed at the floor is not written again";
    EXPECT_EQ(plugin.values[5], 555.0f) << "a value that did not change is not written again";
    plugin.controls[5] = 50.0f;
    plugin.run(64);
    EXPECT_EQ(plugin.values[5], 50.0f);
    // A value output connected anew is written at the next block.
    float fresh = -1.0f;
    lilv_instance_connect_port(plugin.instance, kFirstValueOut + 7, &fresh);
    plugin.run(16);
    EXPECT_EQ(fresh, portValue(7, defaultValue(7)));
}

// The host's side of state: port values read from and written to an Instance.
const void* portValueOf(const char* symbol, void* self, uint32_t* size, uint32_t* type) {
    auto* plugin = static_cast<Instance*>(self);
    for (int c = 0; c < kNumControls; ++c) {
        char name[64];
        controlSymbol(c, name, sizeof name);
        if (std::strcmp(name, symbol) != 0) continue;
        *size = sizeof(float);
        *type = plugin->floatType;
        return &plugin->controls[c];
    }
    *size = 0;
    *type = 0;
    return nullptr;
}
void setPortValue(const char* symbol, void* self, const void* value, uint32_t size, uint32_t) {
    auto* plugin = static_cast<Instance*>(self);
    for (int c = 0; c < kNumControls; ++c) {
        char name[64];
        controlSymbol(c, name, sizeof name);
        if (std::strcmp(name, symbol) == 0 && size == sizeof(float)) std::memcpy(&plugin->controls[c], value, sizeof(float));
    }
}

// State through lilv: an instance moved by its ports, by MIDI and by its
// switches is saved (to a folder too, as jalv -l reads it) and restored
// into new instances, which then mix the same output; a restored MIDI move
// holds until the host moves that port.
TEST(Lv2State, RoundTripThroughLilv) {
    UridMap map;
    Instance a(map.features, 2.0f);
    ASSERT_NE(a.instance, nullptr);
    a.floatType = map(LV2_ATOM__Float);
    Sequence sequence(map);
    a.connectMidi(&sequence);
    const int masterVolume = paramIndex(0, kVolume), pan = paramIndex(4, kPan);
    a.controls[pan] = 0.5f;
    a.controls[switchControl(2, kPolarity)] = 1.0f;
    a.controls[switchControl(6, kMute)] = 1.0f;
    sequence.add(10, 0xB0, kParameters[masterVolume].controller, 16);   // master to 50 %, by MIDI only
    sequence.add(20, 0xB0, kParameters[paramIndex(9, kSend2)].controller, 100);
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    auto fill = [&](std::vector<std::vector<float>>& dst, unsigned seed) {
        std::mt19937 r(seed);
        for (auto& channel : dst)
            for (float& x : channel) x = signal(r);
    };
    fill(a.in, 1);
    a.run(2048);
    sequence.clear();
    ASSERT_EQ(a.values[masterVolume], 50.0f);
    LilvState* state = lilv_state_new_from_instance(world().plugin, a.instance, &map.feature, nullptr, nullptr, nullptr,
                                                    nullptr, portValueOf, &a, 0, nullptr);
    ASSERT_NE(state, nullptr);
    const std::string dir = testing::TempDir() + "tarnvale-state";
    ASSERT_EQ(lilv_state_save(world().world, &map.feature, &map.unmapFeature, state, nullptr, dir.c_str(), "state.ttl"), 0);
    LilvState* loaded = lilv_state_new_from_file(world().world, &map.feature, nullptr, (dir + "/state.ttl").c_str());
    ASSERT_NE(loaded, nullptr);
    for (LilvState* source : {state, loaded}) {
        Instance b(map.features, 0.0f);
        ASSERT_NE(b.instance, nullptr);
        lilv_state_restore(source, b.instance, setPortValue, &b, 0, nullptr);
        EXPECT_EQ(b.controls[masterVolume], 100.0f) << "the port holds what the host saved";
        fill(a.in, 2);
        fill(b.in, 2);
        a.run(1024);
        b.run(1024);
        for (int k = 0; k < kNumOutputs; ++k)
            ASSERT_EQ(std::memcmp(a.out[k].data(), b.out[k].data(), 1024 * sizeof(float)), 0) << "output " << k;
        EXPECT_EQ(b.values[masterVolume], 50.0f) << "the MIDI move came back";
        b.controls[masterVolume] = 200.0f;  // the host moves the fader
        b.run(16);
        EXPECT_EQ(b.values[masterVolume], 200.0f);
    }
    lilv_state_free(loaded);
    lilv_state_free(state);
}

// However a host lays out its control values (in an array in control
// order, one record per port, or scattered in no order), every move of a
// port is taken, and only a move: the value outputs follow each.
TEST(Lv2Instance, PortMovesAreTakenInEveryLayout) {
    const struct {
        const char* what;
        int stride;  // floats from one control's value to the next; 0: scattered
    } layouts[] = {{"in control order", 1}, {"one record per port", 5}, {"scattered", 0}};
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        UridMap map;
        Instance plugin(map.features);
        ASSERT_NE(plugin.instance, nullptr);
        std::vector<float> store(static_cast<size_t>(kNumControls) * 5);
        std::vector<float*> at(kNumControls);
        for (int c = 0; c < kNumControls; ++c) {
            const int slot = layout.stride > 0 ? c * layout.stride : c * 37 % kNumControls;
            at[c] = &store[static_cast<size_t>(slot)];
            *at[c] = plugin.controls[c];
            lilv_instance_connect_port(plugin.instance, controlPort(c), at[c]);
        }
        plugin.run(8);
        std::mt19937 rng(31);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int block = 0; block < 20; ++block) {
            std::vector<int> moved;
            for (int k = 0; k < 1 + block % 3; ++k) moved.push_back(static_cast<int>(rng() % kNumParams));
            for (int p : moved) *at[p] = portValue(p, unit(rng));
            for (int p = 0; p < kNumParams; ++p) plugin.values[p] = -99.0f;
            plugin.run(8);
            for (int p = 0; p < kNumParams; ++p) {
                const bool wasMoved = std::find(moved.begin(), moved.end(), p) != moved.end();
                if (wasMoved)
                    ASSERT_EQ(plugin.values[p], portValue(p, storeValue(p, *at[p]))) << "parameter " << p;
                else
                    ASSERT_EQ(plugin.values[p], -99.0f) << "parameter " << p << " written without a move";
            }
        }
        // Each parameter moved alone, wherever it falls among the ports
        // read together: the move is seen.
        for (int p = 0; p < kNumParams; ++p) {
            *at[p] = portValue(p, unit(rng));
            plugin.values[p] = -99.0f;
            plugin.run(8);
            ASSERT_EQ(plugin.values[p], portValue(p, storeValue(p, *at[p]))) << "parameter " << p << " moved alone";
        }
        // The last control of the second run of ports: a mute.
        *at[switchControl(kNumChannels - 1, kPolarity)] = 1.0f;
        for (auto& channel : plugin.in) std::fill(channel.begin(), channel.end(), 0.5f);
        plugin.run(8);
        EXPECT_EQ(plugin.out[directOutput(kNumChannels - 1, kLeft)][0] < 0.0f, true);
    }
}

}  // namespace
