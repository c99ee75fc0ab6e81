// Validation of the built module as hosts and validators exercise it:
// lifecycles, odd rates and block sizes, in-place buffers, parameters from
// several threads, state recall and hostile input. Every case drives
// tarnvale.so only through its ABI. Each case prints its figures.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "abi/abi_fixture.h"
#include "support/reference_mixer.h"

namespace {

using abitest::Abi;
using vsthost::AudioBuffers;

void figure(const char* text, long long count) { std::printf("figure: %s = %lld\n", text, count); }

std::unique_ptr<vsthost::Plugin> makePlugin(vsthost::Host& host) {
    std::string error;
    auto p = vsthost::Plugin::create(abitest::module(), host, error);
    EXPECT_TRUE(p) << error;
    return p;
}

void fillRandom(AudioBuffers& b, std::mt19937& rng) {
    std::uniform_real_distribution<float> signal(-1.0f, 1.0f);
    for (int k = 0; k < b.channels(); ++k)
        for (int i = 0; i < b.frames(); ++i) b[k][i] = signal(rng);
}

bool allFinite(AudioBuffers& b, int channels) {
    for (int k = 0; k < channels; ++k)
        for (int i = 0; i < b.frames(); ++i)
            if (!std::isfinite(b.pointers()[k][i])) return false;
    return true;
}

TEST(Lifecycle, ThousandCyclesOfCreateOpenProcessClose) {
    std::mt19937 rng(1);
    AudioBuffers in(32, 64), out(38, 64);
    fillRandom(in, rng);
    int cycles = 0;
    for (; cycles < 1000; ++cycles) {
        vsthost::Host host;
        auto plugin = makePlugin(host);
        ASSERT_TRUE(plugin);
        plugin->start(44100.0f, 64);
        vsthost::EventList events;
        events.controlChange(cycles % 64, 0, 114, static_cast<uint8_t>(cycles % 128));
        plugin->processEvents(events);
        plugin->setParameter(cycles % 68, 0.5f);
        plugin->processReplacing(in.pointers(), out.pointers(), 64);
        ASSERT_TRUE(allFinite(out, 38));
        ASSERT_EQ(plugin->close(), 1);
    }
    figure("lifecycle cycles", cycles);
}

TEST(Lifecycle, SixtyFourInstancesAtOnceStayIndependent) {
    constexpr int kInstances = 64, kFrames = 96, kBlocks = 6;
    std::vector<std::unique_ptr<vsthost::Host>> hosts;
    std::vector<std::unique_ptr<vsthost::Plugin>> plugins;
    std::vector<reference::Mixer> models(kInstances);
    std::mt19937 rng(64);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int k = 0; k < kInstances; ++k) {
        hosts.push_back(std::make_unique<vsthost::Host>());
        plugins.push_back(makePlugin(*hosts.back()));
        ASSERT_TRUE(plugins.back());
        plugins.back()->start(48000.0f, kFrames);
        for (int j = 0; j < 6; ++j) {  // each instance its own settings
            const int index = static_cast<int>(rng() % 68);
            const float value = unit(rng);
            plugins.back()->setParameter(index, value);
            models[static_cast<size_t>(k)].params[index] = value;
        }
    }
    AudioBuffers in(32, kFrames), out(38, kFrames), expected(38, kFrames);
    for (int block = 0; block < kBlocks; ++block)
        for (int k = 0; k < kInstances; ++k) {  // interleaved: every instance, block by block
            fillRandom(in, rng);
            vsthost::EventList events;
            const auto controller = static_cast<uint8_t>(115 - k % 4);  // Ch.01's four controls
            events.controlChange(k % kFrames, static_cast<uint8_t>(k % 16), controller, static_cast<uint8_t>((k * 5 + block) % 128));
            plugins[static_cast<size_t>(k)]->processEvents(events);
            models[static_cast<size_t>(k)].queue({{k % kFrames, static_cast<uint8_t>(0xB0 | (k % 16)), controller,
                                                   static_cast<uint8_t>((k * 5 + block) % 128)}});
            plugins[static_cast<size_t>(k)]->processReplacing(in.pointers(), out.pointers(), kFrames);
            models[static_cast<size_t>(k)].process(in.pointers(), expected.pointers(), kFrames);
            for (int o = 0; o < 38; ++o)
                for (int i = 0; i < kFrames; ++i)
                    ASSERT_NEAR(out[o][i], expected[o][i], 5e-5f + 2e-6f * std::fabs(expected[o][i]))
                        << "instance " << k << " block " << block;
        }
    for (int k = 0; k < kInstances; ++k)
        for (int index = 0; index < 68; ++index)
            ASSERT_EQ(plugins[static_cast<size_t>(k)]->getParameter(index), models[static_cast<size_t>(k)].params[index]);
    figure("instances alive at once", kInstances);
}

const int kBlockSizes[] = {1, 2, 3, 31, 32, 33, 511, 4096, 16384};
const int kSampleRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};

// The same input and settings rendered at every rate, with MIDI, in blocks
// of 512: every output equal bit for bit to the first rate's. Answers the
// number of rates compared.
int SameMixAtEveryRate() {
    constexpr int kFrames = 512, kBlocks = 4;
    std::vector<std::vector<float>> first;
    int rates = 0;
    for (int rate : kSampleRates) {
        vsthost::Host host;
        auto plugin = makePlugin(host);
        if (!plugin) return rates;
        plugin->start(static_cast<float>(rate), kFrames);
        std::mt19937 rng(9);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int index = 0; index < 68; ++index) plugin->setParameter(index, unit(rng));
        std::vector<std::vector<float>> rendered;
        AudioBuffers in(32, kFrames), out(38, kFrames);
        for (int b = 0; b < kBlocks; ++b) {
            fillRandom(in, rng);
            vsthost::EventList events;
            for (int e = 0; e < 40; ++e)
                events.controlChange(e * 11, 0, static_cast<uint8_t>(14 + rng() % 106), static_cast<uint8_t>(rng() % 128));
            plugin->processEvents(events);
            plugin->processReplacing(in.pointers(), out.pointers(), kFrames);
            for (int k = 0; k < 38; ++k) rendered.emplace_back(out[k], out[k] + kFrames);
        }
        if (first.empty()) first = rendered;
        for (size_t k = 0; k < rendered.size(); ++k)
            EXPECT_EQ(std::memcmp(rendered[k].data(), first[k].data(), sizeof(float) * kFrames), 0)
                << "block " << k / 38 << " output " << k % 38 << " differs at " << rate << " Hz";
        ++rates;
    }
    return rates;
}

TEST_F(Abi, EveryRateAndBlockSizeInPlaceAndApart) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    long long cases = 0;
    for (int rate : kSampleRates) {
        plugin->dispatch(effMainsChanged, 0, 0);
        plugin->dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
        for (int frames : kBlockSizes) {
            plugin->dispatch(effSetBlockSize, 0, frames);
            plugin->dispatch(effMainsChanged, 0, 1);
            for (int index = 0; index < 68; ++index) plugin->setParameter(index, unit(rng));
            AudioBuffers in(32, frames);
            fillRandom(in, rng);
            const AudioBuffers original = in;

            AudioBuffers apart(38, frames, 1e30f);
            plugin->processReplacing(in.pointers(), apart.pointers(), frames);
            for (int k = 0; k < 32; ++k)
                ASSERT_EQ(std::memcmp(in[k], original[k], sizeof(float) * static_cast<size_t>(frames)), 0)
                    << "input " << k << " written at " << rate << " Hz, " << frames << " frames";
            ASSERT_TRUE(allFinite(apart, 38));

            AudioBuffers shared = in, inPlace(38, frames, 1e30f);
            for (int k = 0; k < 32; ++k) inPlace.alias(k, shared[k]);  // every output that can, over an input
            plugin->processReplacing(shared.pointers(), inPlace.pointers(), frames);
            for (int k = 0; k < 38; ++k)
                ASSERT_EQ(std::memcmp(inPlace.pointers()[k], apart[k], sizeof(float) * static_cast<size_t>(frames)), 0)
                    << "output " << k << " differs in place at " << rate << " Hz, " << frames << " frames";

            AudioBuffers silence(32, frames), quiet(38, frames, 1.0f);
            plugin->processReplacing(silence.pointers(), quiet.pointers(), frames);
            for (int k = 0; k < 38; ++k)
                for (int i = 0; i < frames; ++i) ASSERT_EQ(quiet[k][i], 0.0f) << "silence in, sound out";
            ++cases;
        }
    }
    figure("sample rates", sizeof kSampleRates / sizeof kSampleRates[0]);
    figure("sample rates giving the same mix bit for bit", SameMixAtEveryRate());
    figure("block sizes", sizeof kBlockSizes / sizeof kBlockSizes[0]);
    figure("rate and block cases (in place, apart, silence)", cases);
}

// Three threads in lockstep, block by block: the audio thread processes one
// block with MIDI while a host thread writes 1,000 parameter values and a
// panel thread reads every parameter's three texts. The same load in every
// build, sanitizers included.
TEST_F(Abi, ParametersFromHostThreadsWhileProcessing) {
    constexpr int kFrames = 128, kBlocks = 2000, kWritesPerBlock = 1000, kThreads = 3;
    std::atomic<int> arrived{0};
    std::atomic<int> round{0};
    // Waits until all three threads have finished the current round.
    auto barrier = [&](int r) {
        if (arrived.fetch_add(1) + 1 == kThreads * (r + 1)) round.store(r + 1);
        while (round.load() <= r) std::this_thread::yield();
    };
    long long writes = 0, texts = 0;
    std::thread audio([&] {
        AudioBuffers in(32, kFrames), out(38, kFrames);
        std::mt19937 rng(3);
        fillRandom(in, rng);
        for (int b = 0; b < kBlocks; ++b) {
            vsthost::EventList events;
            events.controlChange(5, 0, 114, b & 0x7F).controlChange(70, 1, 110, (b + 1) & 0x7F);
            plugin->processEvents(events);
            plugin->processReplacing(in.pointers(), out.pointers(), kFrames);
            for (int k = 0; k < 38; ++k)
                for (int i = 0; i < kFrames; ++i)
                    if (!std::isfinite(out[k][i])) ADD_FAILURE() << "non-finite output";
            barrier(b);
        }
    });
    std::thread panel([&] {
        for (int b = 0; b < kBlocks; ++b) {
            for (int index = 0; index < 68; ++index) {
                const std::string name = plugin->parameterName(index);
                const std::string shown = plugin->parameterDisplay(index);
                const std::string unit = plugin->parameterLabel(index);
                if (name.empty() || shown.empty() || unit != (index % 4 == 0 ? "" : "%"))
                    ADD_FAILURE() << "panel text wrong for parameter " << index;
                texts += 3;
            }
            barrier(b);
        }
    });
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int b = 0; b < kBlocks; ++b) {
        for (int w = 0; w < kWritesPerBlock; ++w) {
            const int index = (b * 7 + w) % 68;
            const float defaults[4] = {0.5f, 0.78125f, 0.0f, 0.0f};
            const float choices[4] = {0.0f, 1.0f, index < 4 ? (index == 0 ? 0.5f : 0.25f) : defaults[index % 4], unit(rng)};
            plugin->setParameter(index, choices[w % 4]);
            ++writes;
        }
        barrier(b);
    }
    audio.join();
    panel.join();

    // Once the threads are done, the store holds the host's last writes but
    // for the two parameters MIDI kept moving, and the mix follows it exactly.
    reference::Mixer model;
    for (int index = 0; index < 68; ++index) model.params[index] = plugin->getParameter(index);
    AudioBuffers in(32, 64), out(38, 64), expected(38, 64);
    fillRandom(in, rng);
    plugin->processReplacing(in.pointers(), out.pointers(), 64);  // what MIDI still had due is long applied
    model.process(in.pointers(), expected.pointers(), 64);
    for (int k = 0; k < 38; ++k)
        for (int i = 0; i < 64; ++i) ASSERT_NEAR(out[k][i], expected[k][i], 5e-5f + 2e-6f * std::fabs(expected[k][i]));
    EXPECT_EQ(writes, static_cast<long long>(kBlocks) * kWritesPerBlock);
    figure("parameter writes from a host thread while processing", writes);
    figure("blocks processed meanwhile", kBlocks);
    figure("panel texts read from a third thread", texts);
}

TEST(StateRecall, AFreshInstanceGivenTheSameParametersSoundsTheSame) {
    vsthost::Host hostA, hostB;
    auto driven = makePlugin(hostA);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    AudioBuffers in(32, 256), outA(38, 256), outB(38, 256);
    for (int block = 0; block < 20; ++block) {  // automation and MIDI both move it
        driven->setParameter(static_cast<int>(rng() % 68), unit(rng));
        vsthost::EventList events;
        for (int e = 0; e < 8; ++e)
            events.controlChange(e * 30, static_cast<uint8_t>(e), static_cast<uint8_t>(rng() % 128), static_cast<uint8_t>(rng() % 128));
        driven->processEvents(events);
        fillRandom(in, rng);
        driven->processReplacing(in.pointers(), outA.pointers(), 256);
    }
    auto fresh = makePlugin(hostB);
    for (int index = 0; index < 68; ++index) fresh->setParameter(index, driven->getParameter(index));
    for (int block = 0; block < 10; ++block) {
        fillRandom(in, rng);
        driven->processReplacing(in.pointers(), outA.pointers(), 256);
        fresh->processReplacing(in.pointers(), outB.pointers(), 256);
        for (int k = 0; k < 38; ++k)
            ASSERT_EQ(std::memcmp(outA[k], outB[k], 256 * sizeof(float)), 0) << "output " << k << " block " << block;
    }
    figure("parameters recalled bit-exactly", 68);
}

TEST_F(Abi, HostileParametersEventsAndOpcodes) {
    long long hostile = 0;
    const float nasty[] = {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f, -1.0f, 2.0f, 1e-45f, -0.0f, 3.4e38f};
    AudioBuffers in(32, 97), out(38, 97);
    std::mt19937 rng(6);
    fillRandom(in, rng);
    for (float v : nasty)
        for (int index = -2; index < 70; ++index) {
            plugin->setParameter(index, v);
            char text[256];
            std::memset(text, 0, sizeof text);
            plugin->dispatch(effGetParamDisplay, index, 0, text);
            ASSERT_LT(std::strlen(text), 8u) << "value text overflows at " << v;
            plugin->processReplacing(in.pointers(), out.pointers(), 97);
            ++hostile;
        }
    for (int index = 0; index < 68; ++index) plugin->setParameter(index, 0.5f);

    // Events: offsets negative, huge and beyond the block; every status byte;
    // data bytes above 127; other event types; null entries; hundreds at once.
    vsthost::EventList events;
    for (int status = 0; status < 256; ++status)
        events.midi(static_cast<VstInt32>(rng() % 300) - 100, static_cast<uint8_t>(status), static_cast<uint8_t>(rng()),
                    static_cast<uint8_t>(rng()));
    for (VstInt32 offset : {-2147483647 - 1, -1, 0, 96, 97, 1000000, 2147483647})
        events.controlChange(offset, 0, 118, 64);
    for (VstInt32 type : {-1, 0, 2, 3, 4, 5, 6, 7, 1000}) {
        VstEvent other{};
        other.type = type;
        other.byteSize = static_cast<VstInt32>(rng() % 64);
        other.deltaFrames = static_cast<VstInt32>(rng());
        events.raw(other);
    }
    ASSERT_EQ(plugin->processEvents(events), 1);
    for (int block = 0; block < 8; ++block) {
        plugin->processReplacing(in.pointers(), out.pointers(), 97);
        ASSERT_TRUE(allFinite(out, 38));
    }
    hostile += static_cast<long long>(events.size());
    VstEvents* list = events.get();
    VstEvent** entries = list->events;
    entries[3] = nullptr;  // a host list with a hole
    ASSERT_EQ(plugin->dispatch(effProcessEvents, 0, 0, list), 1);
    list->numEvents = -5;
    ASSERT_EQ(plugin->dispatch(effProcessEvents, 0, 0, list), 1);
    plugin->processReplacing(in.pointers(), out.pointers(), 97);

    // Every opcode from -1000 to 1000 with valid buffers (effClose last).
    for (VstInt32 opcode = -1000; opcode <= 1000; ++opcode) {
        if (opcode == effClose) continue;
        alignas(16) unsigned char buffer[4096] = {};
        alignas(16) unsigned char second[4096] = {};
        for (VstInt32 index : {-1, 0, 5, 1000})
            for (VstIntPtr value : {VstIntPtr(0), VstIntPtr(1), reinterpret_cast<VstIntPtr>(second)}) {
                if (opcode == effSetChunk && value != 0 && value != 1) continue;  // value is a size there
                if (opcode == effGetSpeakerArrangement && value == 1) continue;  // value is a place for an address
                plugin->dispatch(opcode, index, value, buffer, 0.5f);
                ++hostile;
            }
    }
    plugin->dispatch(effMainsChanged, 0, 1);
    plugin->processReplacing(in.pointers(), out.pointers(), 97);
    ASSERT_TRUE(allFinite(out, 38));
    figure("hostile parameter values, events and opcode calls", hostile);
}

}  // namespace
