// Tarnvale's LV2 edition: the mix engine behind LV2 ports. Control inputs
// carry what the VST 2.4 panel shows (pans -1..1, levels in percent); a
// port counts as moved when its value differs from the one last read from
// it, so a host's move after a MIDI move takes over from the next block. MIDI
// control changes arrive in an atom sequence and apply at their frames;
// the value each parameter has now, MIDI moves included, goes out on a
// control output, since a plug-in may not write its input ports.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <new>

#include "engine/mix_engine.h"
#include "ports.h"

namespace {

using namespace tarnvale;
using namespace tarnvale::lv2;

struct Mixer {
    MixEngine engine;
    const float* inputs[kNumInputs] = {};
    float* outputs[kNumOutputs] = {};
    const float* controls[kNumParams] = {};
    float* values[kNumParams] = {};
    const LV2_Atom_Sequence* midi = nullptr;
    uint32_t lastRead[kNumParams] = {};  // bits of each control port's last value
    bool wasRead[kNumParams] = {};
    LV2_URID midiEvent = 0;  // 0: no URID map, MIDI is ignored
    LV2_URID frameTime = 0;
};

// [instantiation class] The URID map is optional: without it the mixer
// mixes and ignores MIDI.
LV2_Handle instantiate(const LV2_Descriptor*, double, const char*, const LV2_Feature* const* features) {
    auto* mixer = new (std::nothrow) Mixer;
    if (mixer == nullptr) return nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) != 0 || features[i]->data == nullptr) continue;
        const auto* map = static_cast<const LV2_URID_Map*>(features[i]->data);
        mixer->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
        mixer->frameTime = map->map(map->handle, LV2_ATOM__frameTime);
    }
    return mixer;
}

// [audio class] no allocation, no locks.
void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto* mixer = static_cast<Mixer*>(handle);
    if (port < kFirstAudioOut)
        mixer->inputs[port - kFirstAudioIn] = static_cast<const float*>(data);
    else if (port < kFirstControl)
        mixer->outputs[port - kFirstAudioOut] = static_cast<float*>(data);
    else if (port < kMidiIn)
        mixer->controls[port - kFirstControl] = static_cast<const float*>(data);
    else if (port == kMidiIn)
        mixer->midi = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port < kNumPorts)
        mixer->values[port - kFirstValueOut] = static_cast<float*>(data);
}

// [instantiation class]
void activate(LV2_Handle) {}

// [audio class] A MIDI control change stores its value; the control output
// shows it after the block.
void control(void* self, int32_t index, float value) { static_cast<Mixer*>(self)->engine.setParameter(index, value); }

// [audio class] The ports moved since the last block.
void readControls(Mixer& mixer) {
    for (int i = 0; i < kNumParams; ++i) {
        if (mixer.controls[i] == nullptr) continue;
        const float value = *mixer.controls[i];
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        if (mixer.wasRead[i] && bits == mixer.lastRead[i]) continue;
        mixer.wasRead[i] = true;
        mixer.lastRead[i] = bits;
        mixer.engine.setParameter(i, storeValue(i, value));
    }
}

// [audio class] The block's MIDI events, in the sequence's order, at their
// frames. The walk stops at an event that does not fit inside the size the
// sequence states, so nothing past it is read.
void queueMidi(Mixer& mixer) {
    mixer.engine.beginEvents();
    const LV2_Atom_Sequence* sequence = mixer.midi;
    if (sequence == nullptr || mixer.midiEvent == 0) return;
    if (sequence->atom.size < sizeof(LV2_Atom_Sequence_Body)) return;
    if (sequence->body.unit != 0 && sequence->body.unit != mixer.frameTime) return;  // beats: not ours
    const auto* end = reinterpret_cast<const uint8_t*>(&sequence->body) + sequence->atom.size;
    for (const LV2_Atom_Event* event = lv2_atom_sequence_begin(&sequence->body);;
         event = lv2_atom_sequence_next(event)) {
        const auto* at = reinterpret_cast<const uint8_t*>(event);
        if (end - at < static_cast<ptrdiff_t>(sizeof(LV2_Atom_Event))) break;
        if (event->body.size > static_cast<size_t>(end - at) - sizeof(LV2_Atom_Event)) break;
        if (event->body.type != mixer.midiEvent || event->body.size == 0) continue;
        const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
        const int64_t frame = event->time.frames;
        const auto delta = static_cast<int32_t>(frame > INT32_MAX ? INT32_MAX : frame < INT32_MIN ? INT32_MIN : frame);
        const uint8_t data1 = event->body.size > 1 ? bytes[1] : 0;
        const uint8_t data2 = event->body.size > 2 ? bytes[2] : 0;
        if (!mixer.engine.queueMidi(delta, bytes[0], data1, data2)) break;  // the queue is full
    }
}

// [audio class] no allocation, no locks.
void run(LV2_Handle handle, uint32_t frames) {
    auto& mixer = *static_cast<Mixer*>(handle);
    readControls(mixer);
    queueMidi(mixer);
    const auto n = static_cast<int32_t>(frames > INT32_MAX ? INT32_MAX : frames);
    mixer.engine.process(mixer.inputs, mixer.outputs, n, control, &mixer);
    for (int i = 0; i < kNumParams; ++i)
        if (mixer.values[i] != nullptr) *mixer.values[i] = portValue(i, mixer.engine.valueInUse(i));
}

// [instantiation class]
void deactivate(LV2_Handle) {}

// [instantiation class]
void cleanup(LV2_Handle handle) { delete static_cast<Mixer*>(handle); }

// [discovery class]
const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {kPluginUri, instantiate, connectPort, activate, run, deactivate, cleanup,
                                    extensionData};

}  // namespace

// [discovery class] The bundle's one plug-in.
extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
