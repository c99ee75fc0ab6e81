#include "demo.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "engine/tables.h"
#include "identity.h"
#include "render.h"

namespace tools {

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 3.0;
constexpr double kTwoPi = 6.283185307179586;

// A small deterministic noise source, so the demo renders the same every time.
struct Noise {
    uint32_t state = 12345;
    float lowLeft = 0.0f, lowRight = 0.0f;  // state of the filtered-noise stem
    float next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
};

using Voice = std::function<void(double t, Noise& noise, float& left, float& right)>;

double sine(double hz, double t) { return std::sin(kTwoPi * hz * t); }

// Sixteen distinct stems: tones, noise and pulses, each with its own
// place, and what each is (the report names it in place of a file).
struct Stem {
    const char* what;
    Voice voice;
};
const Stem kStems[tarnvale::kNumChannels] = {
    {"bass: sines at 55 and 110 Hz",
     [](double t, Noise&, float& l, float& r) { l = r = static_cast<float>(0.20 * sine(55, t) + 0.05 * sine(110, t)); }},
    {"220 Hz sine with a 5 Hz tremolo",
     [](double t, Noise&, float& l, float& r) {
        const double trem = 0.5 + 0.5 * sine(5, t);
        l = r = static_cast<float>(0.12 * trem * sine(220, t));
     }},
    {"soft square wave at 330 Hz",
     [](double t, Noise&, float& l, float& r) {
        double v = 0;
        for (int k = 1; k <= 9; k += 2) v += sine(330.0 * k, t) / k;  // a soft square
        l = r = static_cast<float>(0.08 * v);
     }},
    {"soft sawtooth at 440 Hz, a little louder on the left",
     [](double t, Noise&, float& l, float& r) {
        double v = 0;
        for (int k = 1; k <= 8; ++k) v += sine(440.0 * k, t) / k;  // a soft saw
        l = static_cast<float>(0.06 * v);
        r = static_cast<float>(0.05 * v);
     }},
    {"noise bursts, twice a second",
     [](double t, Noise& n, float& l, float& r) {
        const double gate = std::fmod(t, 0.5) < 0.1 ? 1.0 : 0.0;  // noise bursts
        l = static_cast<float>(0.10 * gate * n.next());
        r = static_cast<float>(0.10 * gate * n.next());
     }},
    {"gently filtered noise",
     [](double, Noise& n, float& l, float& r) {
        n.lowLeft += 0.05f * (n.next() - n.lowLeft);  // gently filtered noise
        n.lowRight += 0.05f * (n.next() - n.lowRight);
        l = 0.4f * n.lowLeft;
        r = 0.4f * n.lowRight;
     }},
    {"kick drum, twice a second",
     [](double t, Noise&, float& l, float& r) {
        const double beat = std::fmod(t, 0.5);  // a kick: falling sine, decaying
        const double phase = kTwoPi * (50.0 * beat + 60.0 * (1.0 - std::exp(-beat * 30.0)) / 30.0);
        l = r = static_cast<float>(0.30 * std::exp(-beat * 12.0) * std::sin(phase));
     }},
    {"off-beat hi-hats of noise",
     [](double t, Noise& n, float& l, float& r) {
        const double tick = std::fmod(t + 0.125, 0.25);  // off-beat hats
        const double env = std::exp(-tick * 80.0);
        l = static_cast<float>(0.08 * env * n.next());
        r = static_cast<float>(0.08 * env * n.next());
     }},
    {"C major chord",
     [](double t, Noise&, float& l, float& r) {
        l = r = static_cast<float>(0.05 * (sine(261.63, t) + sine(329.63, t) + sine(392.0, t)));  // a chord
     }},
    {"FM tone at 180 Hz",
     [](double t, Noise&, float& l, float& r) {
        l = r = static_cast<float>(0.10 * std::sin(kTwoPi * 180 * t + 2.0 * sine(90, t)));  // FM
     }},
    {"587 Hz tone moving between the sides",
     [](double t, Noise&, float& l, float& r) {
        const double side = sine(1, t);  // ping-pong between the sides
        const double tone = 0.12 * sine(587.33, t);
        l = static_cast<float>(tone * (0.5 + 0.5 * side));
        r = static_cast<float>(tone * (0.5 - 0.5 * side));
     }},
    {"659 Hz tone swelling in",
     [](double t, Noise&, float& l, float& r) {
        l = r = static_cast<float>(0.12 * (t / kSeconds) * sine(659.25, t));  // a swell
     }},
    {"narrow 880 Hz pulse train",
     [](double t, Noise&, float& l, float& r) {
        l = r = std::fmod(t * 880.0, 1.0) < 0.1 ? 0.06f : -0.006f;  // narrow pulse train
     }},
    {"440 and 443 Hz sines, one per side",
     [](double t, Noise&, float& l, float& r) {
        l = static_cast<float>(0.08 * sine(440.0, t));  // beating pair, one per side
        r = static_cast<float>(0.08 * sine(443.0, t));
     }},
    {"chirp from 200 Hz to 2 kHz",
     [](double t, Noise&, float& l, float& r) {
        const double f0 = 200, f1 = 2000;  // a chirp
        const double phase = kTwoPi * (f0 * t + (f1 - f0) * t * t / (2 * kSeconds));
        l = r = static_cast<float>(0.07 * std::sin(phase));
     }},
    {"clicks every 0.75 s",
     [](double t, Noise&, float& l, float& r) {
        l = r = std::fmod(t, 0.75) < 1.0 / kRate ? 0.5f : 0.0f;  // clicks
     }},
};

// One stem, generated as it is read.
class VoiceSource : public Source {
public:
    explicit VoiceSource(const Voice& voice) : voice_(voice) {}
    int64_t frames() const override { return static_cast<int64_t>(kSeconds * kRate); }
    bool read(float* left, float* right, size_t n, std::string&) override {
        for (size_t i = 0; i < n; ++i, ++at_) {
            if (at_ < frames())
                voice_(static_cast<double>(at_) / kRate, noise_, left[i], right[i]);
            else
                left[i] = right[i] = 0.0f;
        }
        return true;
    }

private:
    const Voice& voice_;
    Noise noise_;
    int64_t at_ = 0;
};

}  // namespace

int runDemo(const std::string& pluginPath, const std::string& outDir, std::ostream& out, std::ostream& err) {
    RenderPlan plan;
    plan.pluginPath = pluginPath;
    plan.sampleRate = kRate;
    plan.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    plan.reportPath = (std::filesystem::path(outDir) / "report.json").string();
    plan.blockSize = 512;
    plan.tailSeconds = 0.25;
    plan.outDir = outDir;
    plan.plotPath = (std::filesystem::path(outDir) / "levels.svg").string();
    const auto frames = static_cast<size_t>(kSeconds * kRate);
    for (int c = 0; c < tarnvale::kNumChannels; ++c) {
        RenderInput input;
        input.channel = c + 1;
        input.rate = kRate;
        input.source = std::make_unique<VoiceSource>(kStems[c].voice);
        input.generated = kStems[c].what;
        plan.inputs.push_back(std::move(input));
    }
    plan.settings = {"Master Volume=70%", "Ch.01 Volume=110%", "Ch.02 Panpot=0.25", "Ch.04 Panpot=0.8",
                     "Ch.05 Send 1=100%", "Ch.08 Send 1=60%",  "Ch.09 Send 2=80%",  "Ch.11 Send 2=100%",
                     "Master Send 2=50%"};
    // The controller sweep: Ch.10's pan from left to right and back, and
    // Ch.11's volume faded in, one controller message every 512 frames.
    const tarnvale::ParameterInfo& pan = tarnvale::kParameters[tarnvale::paramIndex(10, tarnvale::kPan)];
    const tarnvale::ParameterInfo& fade = tarnvale::kParameters[tarnvale::paramIndex(11, tarnvale::kVolume)];
    for (size_t f = 0; f < frames; f += 512) {
        const double x = static_cast<double>(f) / static_cast<double>(frames);
        const auto panValue = static_cast<uint8_t>(std::lround(127.0 * (x < 0.5 ? 2 * x : 2 - 2 * x)));
        const auto fadeValue = static_cast<uint8_t>(std::lround(100.0 * x));
        plan.events.push_back({static_cast<int64_t>(f), {0xB0, pan.controller, panValue}});
        plan.events.push_back({static_cast<int64_t>(f + 256), {0xB0, fade.controller, fadeValue}});
    }
    out << tarnvale::identity::kName << " demo: " << tarnvale::kNumChannels << " stems of " << kSeconds << " s, a "
        << "sweep of " << pan.name << " (controller " << int{pan.controller} << ") and a fade-in of " << fade.name
        << " (controller " << int{fade.controller} << ")\n";
    return render(plan, out, err);
}

}  // namespace tools
