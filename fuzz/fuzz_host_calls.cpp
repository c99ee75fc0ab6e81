// Fuzz target: bytes become a sequence of host calls on one effect, made
// only through its entry point and record: parameter writes and reads,
// event lists, process calls of random sizes (in place or apart), and
// opcodes with valid buffers. Checked as it goes: nothing crashes (the
// sanitizers watch memory and undefined behaviour), outputs stay finite for
// any parameter value that cannot overflow the arithmetic (NaN and the
// infinities included: they mix as the default), silence in gives silence
// out for any parameter value at all, the queue never holds more
// than 255 events and applies one per frame, and a parameter reads back as
// written.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/vst_interface.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

namespace {

size_t automationCalls = 0;

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterAutomate) ++automationCalls;
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Bytes {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool empty() const { return at >= size; }
    uint8_t u8() { return at < size ? data[at++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | u8();
        return v;
    }
    float f32() {
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
};

constexpr int kMaxFrames = 600;  // past the common block sizes, small enough to run fast

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    AEffect* fx = VSTPluginMain(host);
    check(fx != nullptr);
    static std::vector<std::vector<float>> buffers(70, std::vector<float>(kMaxFrames));
    float* inputs[32];
    float* outputs[38];
    // Finite values beyond this may overflow the gains; everything up to it
    // (and every value that is not a finite number) must mix to finite output.
    constexpr float kSafeMagnitude = 1000.0f;
    bool allSafe = true;
    bool overflowing[68] = {};
    size_t outstanding = 0;  // upper bound of the events still queued
    automationCalls = 0;

    std::vector<VstMidiEvent> events;
    std::vector<VstEvent*> pointers;
    std::vector<unsigned char> listMemory;

    while (!in.empty()) {
        switch (in.u8() % 6) {
        case 0: {  // parameter write, kept in 0..1 or any bits at all
            const auto index = static_cast<VstInt32>(static_cast<int8_t>(in.u8()));
            const bool wild = (in.u8() & 7) == 0;
            float v = in.f32();
            if (!wild) v = std::isfinite(v) ? std::fabs(std::fmod(v, 1.0f)) : 0.5f;
            fx->setParameter(fx, index, v);
            if (index >= 0 && index < 68) {
                overflowing[index] = std::isfinite(v) && std::fabs(v) > kSafeMagnitude;
                const float back = fx->getParameter(fx, index);
                check(std::memcmp(&back, &v, sizeof v) == 0);  // parameters round-trip bit for bit
            } else {
                check(fx->getParameter(fx, index) == 0.0f);
            }
            allSafe = true;
            for (bool h : overflowing) allSafe = allSafe && !h;
            break;
        }
        case 1: {  // an event list
            const int count = in.u8() * 2;
            events.assign(static_cast<size_t>(count), VstMidiEvent{});
            int midi = 0;
            for (auto& e : events) {
                e.type = (in.u8() & 3) == 0 ? static_cast<VstInt32>(in.u8()) : kVstMidiType;
                e.byteSize = sizeof e;
                e.deltaFrames = (in.u8() & 7) == 0 ? static_cast<VstInt32>(in.u32()) : in.u8();
                e.midiData[0] = static_cast<char>(in.u8());
                e.midiData[1] = static_cast<char>(in.u8());
                e.midiData[2] = static_cast<char>(in.u8());
                if (e.type == kVstMidiType) ++midi;
            }
            listMemory.assign(offsetof(VstEvents, events) + sizeof(VstEvent*) * (events.size() + 2), 0);
            auto* list = reinterpret_cast<VstEvents*>(listMemory.data());
            list->numEvents = static_cast<VstInt32>(events.size());
            auto** entries = reinterpret_cast<VstEvent**>(listMemory.data() + offsetof(VstEvents, events));
            for (size_t i = 0; i < events.size(); ++i) entries[i] = reinterpret_cast<VstEvent*>(&events[i]);
            check(fx->dispatcher(fx, effProcessEvents, 0, 0, list, 0.0f) == 1);
            // Earlier events already due stay queued ahead of the new ones.
            outstanding = outstanding + static_cast<size_t>(midi) < 255 ? outstanding + static_cast<size_t>(midi) : 255;
            break;
        }
        case 2:
        case 3: {  // a block, apart or in place
            const int frames = static_cast<int>(in.u32() % (kMaxFrames + 2)) - 1;
            const bool inPlace = (in.u8() & 1) != 0;
            bool silent = true;
            for (int k = 0; k < 32; ++k) {
                inputs[k] = buffers[static_cast<size_t>(k)].data();
                const float level = static_cast<float>(in.u8()) / 128.0f - 1.0f;
                silent = silent && level == 0.0f;
                for (int i = 0; i < frames; ++i) inputs[k][i] = level * static_cast<float>((i * (k + 3)) % 17) / 17.0f;
            }
            for (int k = 0; k < 38; ++k)
                outputs[k] = inPlace && k < 32 ? inputs[k] : buffers[static_cast<size_t>(32 + k)].data();
            const size_t before = automationCalls;
            fx->processReplacing(fx, inputs, outputs, frames);
            const size_t applied = automationCalls - before;
            check(applied <= static_cast<size_t>(frames > 0 ? frames : 0));  // one per frame
            check(applied <= outstanding);  // no event applied twice, none beyond what was queued
            outstanding -= applied;
            if (allSafe)
                for (int k = 0; k < 38; ++k)
                    for (int i = 0; i < frames; ++i) check(std::isfinite(outputs[k][i]));
            // Whatever the parameters hold, silence mixes to silence.
            if (silent)
                for (int k = 0; k < 38; ++k)
                    for (int i = 0; i < frames; ++i) check(outputs[k][i] == 0.0f);
            break;
        }
        case 4: {  // an opcode with valid buffers
            VstInt32 opcode = static_cast<VstInt32>(in.u32() % 120) - 20;
            if (opcode == effClose || opcode == effProcessEvents) opcode = effIdentify;
            const auto index = static_cast<VstInt32>(static_cast<int16_t>(in.u32()));
            alignas(16) unsigned char buffer[1024] = {};
            alignas(16) unsigned char place[64] = {};
            const VstIntPtr value = opcode == effGetSpeakerArrangement || opcode == effSetSpeakerArrangement
                                        ? reinterpret_cast<VstIntPtr>(place)
                                        : static_cast<VstIntPtr>(static_cast<int32_t>(in.u32()));
            fx->dispatcher(fx, opcode, index, value, buffer, in.f32());
            break;
        }
        default: {  // panel texts for any index
            const auto index = static_cast<VstInt32>(static_cast<int8_t>(in.u8()));
            char text[256];
            for (VstInt32 opcode : {effGetParamName, effGetParamDisplay, effGetParamLabel}) {
                std::memset(text, 0x55, sizeof text);
                fx->dispatcher(fx, opcode, index, 0, text, 0.0f);
                check(std::memchr(text, 0, 16) != nullptr || text[0] == 0x55);
            }
            break;
        }
        }
    }
    check(fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f) == 1);
    return 0;
}
