// Tarnvale's LV2 edition: the mix engine behind LV2 ports. Control inputs
// carry what the VST 2.4 panel shows (pans -1..1, levels in percent), held
// to their declared ranges; a port counts as moved when its value differs
// from the one last read from it, so a host's move after a MIDI move (or a
// restored state) takes over from the next block. MIDI control changes
// arrive in an atom sequence and apply at their frames; the value each
// parameter has now, MIDI moves included, goes out on a control output,
// since a plug-in may not write its input ports. Beyond the VST 2.4
// edition: each channel's mute, solo and polarity, smoothed changes, a
// peak meter per output pair, and the state interface, which saves every
// control's value in use.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
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

constexpr int kWords = DirtyBits::kWords;

bool bitSet(const uint32_t* words, int i) { return ((words[i / 32] >> (i % 32)) & 1u) != 0; }
void setBit(uint32_t* words, int i) { words[i / 32] |= 1u << (i % 32); }
void clearBit(uint32_t* words, int i) { words[i / 32] &= ~(1u << (i % 32)); }

uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Two 32-bit values as one 64-bit word laid out as they are in memory,
// first then second.
inline uint64_t twoInMemoryOrder(uint32_t first, uint32_t second) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<uint64_t>(first) << 32 | second;
#else
    return static_cast<uint64_t>(second) << 32 | first;
#endif
}

// The control ports in two runs of the engine's controls: the parameters
// (ports 70-137) and the rest (ports 207-255). Hosts commonly keep their
// control values at a fixed distance from one port to the next (an array
// indexed by port, or one record per port); where a run is laid out so,
// its values are read without their pointers.
struct ControlRun {
    int first, count;
    const char* base = nullptr;  // the first value, when evenly spaced
    ptrdiff_t stride = 0;        // bytes from one value to the next; 0: read through the pointers
};

struct Mixer {
    MixEngine engine;
    ControlRun runs[2] = {{0, kNumParams}, {kNumParams, kNumControls - kNumParams}};
    const float* inputs[kNumInputs] = {};
    float* outputs[kNumOutputs] = {};
    const float* controls[kNumControls] = {};  // never null: an unconnected port reads its default
    float unconnected[kNumControls] = {};      // each port's default, for ports not connected
    float* values[kNumParams] = {};
    float* meters[kNumPairs] = {};
    const LV2_Atom_Sequence* midi = nullptr;
    uint32_t lastRead[kNumControls] = {};  // bits of each control port's last value
    uint32_t unread[kWords] = {};          // ports not read since they were connected
    uint32_t adopt[kWords] = {};           // controls whose port value is taken as read, unapplied (after a restore)
    bool recheck = true;                   // some port is unread or adopted: the careful pass
    uint32_t stale[kWords] = {};           // value outputs to write whatever they held
    uint32_t lastMeter[kNumPairs] = {};    // bits of each meter's last reading written
    uint32_t staleMeters = 0;
    uint32_t meteredPairs = 0;
    LV2_URID midiEvent = 0;  // 0: no URID map, MIDI is ignored and there is no state
    LV2_URID frameTime = 0;
    LV2_URID atomFloat = 0;
    LV2_URID key[kNumControls] = {};  // the state key of each control
};

// [instantiation class] The URID map is optional: without it the mixer
// mixes, ignores MIDI and saves no state.
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    auto* mixer = new (std::nothrow) Mixer;
    if (mixer == nullptr) return nullptr;
    mixer->engine.setSampleRate(rate);
    // A port the host never connects keeps its default.
    for (int c = 0; c < kNumControls; ++c) {
        mixer->unconnected[c] = controlRange(c).defaultValue;
        mixer->controls[c] = &mixer->unconnected[c];
        setBit(mixer->unread, c);
    }
    for (int p = 0; p < kNumParams; ++p) setBit(mixer->stale, p);
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) != 0 || features[i]->data == nullptr) continue;
        const auto* map = static_cast<const LV2_URID_Map*>(features[i]->data);
        mixer->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
        mixer->frameTime = map->map(map->handle, LV2_ATOM__frameTime);
        mixer->atomFloat = map->map(map->handle, LV2_ATOM__Float);
        // Each control's state key: the plug-in's URI, '#', its symbol.
        for (int c = 0; c < kNumControls; ++c) {
            char uri[256];
            const int length = std::snprintf(uri, sizeof uri, "%s#", kPluginUri);
            controlSymbol(c, uri + length, sizeof uri - static_cast<size_t>(length));
            mixer->key[c] = map->map(map->handle, uri);
        }
    }
    return mixer;
}

// [audio class] no allocation, no locks. A newly connected output is
// written at the next block whatever it held.
void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto* mixer = static_cast<Mixer*>(handle);
    const int control = controlOfPort(port);
    if (control >= 0) {
        mixer->controls[control] = data != nullptr ? static_cast<const float*>(data) : &mixer->unconnected[control];
        setBit(mixer->unread, control);
        mixer->recheck = true;
    } else if (port < kFirstAudioOut) {
        mixer->inputs[port - kFirstAudioIn] = static_cast<const float*>(data);
    } else if (port < kFirstControl) {
        mixer->outputs[port - kFirstAudioOut] = static_cast<float*>(data);
    } else if (port == kMidiIn) {
        mixer->midi = static_cast<const LV2_Atom_Sequence*>(data);
    } else if (port < kFirstSwitchPort) {
        const int p = static_cast<int>(port - kFirstValueOut);
        mixer->values[p] = static_cast<float*>(data);
        setBit(mixer->stale, p);
    } else if (port >= kFirstMeterPort && port < kNumPorts) {
        const int pair = static_cast<int>(port - kFirstMeterPort);
        mixer->meters[pair] = static_cast<float*>(data);
        mixer->staleMeters |= 1u << pair;
        if (data != nullptr)
            mixer->meteredPairs |= 1u << pair;
        else
            mixer->meteredPairs &= ~(1u << pair);
    }
}

// [instantiation class] The first block takes the ports' values at once.
void activate(LV2_Handle handle) { static_cast<Mixer*>(handle)->engine.jumpToTargets(); }

// [audio class] A MIDI control change stores its value; the control output
// shows it after the block.
void control(void* self, int32_t index, float value) { static_cast<Mixer*>(self)->engine.setParameter(index, value); }

// [audio class] A control port's new value, held to its range, to the engine.
void apply(Mixer& mixer, int control) {
    mixer.engine.setControl(control, storeValue(control, clampToRange(control, *mixer.controls[control])));
}

// [audio class] The ports moved since the last block: only a port whose
// bits changed is converted. After a connection or a restore, one careful
// pass reads every newly connected port and takes a restored control's
// port value as read without applying it.
void readControls(Mixer& mixer) {
    if (!mixer.recheck) {
        // Hosts move few ports, most blocks none: one pass that only tells
        // whether any port differs (no test per port), then a look at the
        // ports themselves only if one does.
        uint32_t differ = 0;
        for (const ControlRun& run : mixer.runs) {
            const uint32_t* last = mixer.lastRead + run.first;
            if (run.stride == static_cast<ptrdiff_t>(sizeof(float))) {
                const auto* values = reinterpret_cast<const float*>(run.base);
                for (int k = 0; k < run.count; ++k) differ |= bitsOf(values[k]) ^ last[k];
            } else if (run.stride != 0) {
                for (int k = 0; k < run.count; ++k)
                    differ |= bitsOf(*reinterpret_cast<const float*>(run.base + k * run.stride)) ^ last[k];
            } else {
                // Each value through its pointer; the last values read two
                // at a time (one load for both), four chains so the loads
                // overlap.
                const float* const* pointers = mixer.controls + run.first;
                uint64_t part[4] = {};
                int k = 0;
                for (; k + 8 <= run.count; k += 8)
                    for (int j = 0; j < 4; ++j) {
                        uint64_t lastTwo;
                        std::memcpy(&lastTwo, last + k + 2 * j, sizeof lastTwo);
                        part[j] |= twoInMemoryOrder(bitsOf(*pointers[k + 2 * j]), bitsOf(*pointers[k + 2 * j + 1])) ^ lastTwo;
                    }
                for (; k < run.count; ++k) part[0] |= bitsOf(*pointers[k]) ^ last[k];
                const uint64_t any = part[0] | part[1] | part[2] | part[3];
                differ |= static_cast<uint32_t>(any) | static_cast<uint32_t>(any >> 32);
            }
        }
        if (differ == 0) return;
        for (int k = 0; k < kNumControls; ++k) {
            const uint32_t bits = bitsOf(*mixer.controls[k]);
            if (bits == mixer.lastRead[k]) continue;
            mixer.lastRead[k] = bits;
            apply(mixer, k);
        }
        return;
    }
    // How each run of ports is laid out.
    for (ControlRun& run : mixer.runs) {
        run.base = reinterpret_cast<const char*>(mixer.controls[run.first]);
        run.stride = reinterpret_cast<const char*>(mixer.controls[run.first + 1]) - run.base;
        for (int k = 0; run.stride != 0 && k < run.count; ++k)
            if (reinterpret_cast<const char*>(mixer.controls[run.first + k]) != run.base + k * run.stride) run.stride = 0;
        if (run.stride < static_cast<ptrdiff_t>(sizeof(float)) && run.stride > -static_cast<ptrdiff_t>(sizeof(float)))
            run.stride = 0;  // values that overlap are read through their pointers
    }
    for (int i = 0; i < kNumControls; ++i) {
        const uint32_t bits = bitsOf(*mixer.controls[i]);
        const bool moved = bits != mixer.lastRead[i] || bitSet(mixer.unread, i);
        mixer.lastRead[i] = bits;
        clearBit(mixer.unread, i);
        if (bitSet(mixer.adopt, i)) {  // a restored value holds until the host moves this port
            clearBit(mixer.adopt, i);
            continue;
        }
        if (moved) apply(mixer, i);
    }
    mixer.recheck = false;
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

// [audio class] The value outputs whose value changed (or that were newly
// connected), and the connected meters whose reading changed.
void writeOutputs(Mixer& mixer) {
    uint32_t changed[kWords];
    mixer.engine.takeChangedValues(changed);
    for (int k = 0; k < kWords; ++k) {
        for (uint32_t bits = (changed[k] | mixer.stale[k]); bits != 0; bits &= bits - 1) {
            const int p = 32 * k + __builtin_ctz(bits);
            if (p >= kNumParams) break;
            if (mixer.values[p] == nullptr) continue;
            *mixer.values[p] = portValue(p, mixer.engine.valueInUse(p));
            clearBit(mixer.stale, p);
        }
    }
    for (uint32_t pairs = mixer.meteredPairs; pairs != 0; pairs &= pairs - 1) {
        const int pair = __builtin_ctz(pairs);
        const float level = mixer.engine.meterLevel(pair);
        const uint32_t bits = bitsOf(level);
        if (bits == mixer.lastMeter[pair] && ((mixer.staleMeters >> pair) & 1u) == 0) continue;
        *mixer.meters[pair] = level;
        mixer.lastMeter[pair] = bits;
    }
    mixer.staleMeters = 0;
}

// [audio class] no allocation, no locks.
void run(LV2_Handle handle, uint32_t frames) {
    auto& mixer = *static_cast<Mixer*>(handle);
    readControls(mixer);
    queueMidi(mixer);
    if (mixer.meteredPairs != mixer.engine.meteredPairs()) mixer.engine.setMeteredPairs(mixer.meteredPairs);
    const auto n = static_cast<int32_t>(frames > INT32_MAX ? INT32_MAX : frames);
    mixer.engine.process(mixer.inputs, mixer.outputs, n, control, &mixer);
    writeOutputs(mixer);
}

// [instantiation class]
void deactivate(LV2_Handle) {}

// [instantiation class]
void cleanup(LV2_Handle handle) { delete static_cast<Mixer*>(handle); }

// [instantiation class] Saves every control's value in use, as a port
// shows it: MIDI moves included, a value that is not a finite number as
// the default it mixes as.
LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*) {
    const auto& mixer = *static_cast<const Mixer*>(handle);
    if (mixer.atomFloat == 0) return LV2_STATE_ERR_NO_FEATURE;
    for (int c = 0; c < kNumControls; ++c) {
        const float value = portValue(c, mixer.engine.valueToUse(c));
        const LV2_State_Status status = store(state, mixer.key[c], &value, sizeof value, mixer.atomFloat,
                                              LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
        if (status != LV2_STATE_SUCCESS) return status;
    }
    return LV2_STATE_SUCCESS;
}

// [instantiation class] Restores the controls a state holds, each held to
// its range, and keeps each until the host moves its port: the port's
// value at the next block is taken as read without being applied. Keys
// that are missing, of another type or not a number leave their control as
// it is.
LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state, uint32_t,
                         const LV2_Feature* const*) {
    auto& mixer = *static_cast<Mixer*>(handle);
    if (mixer.atomFloat == 0) return LV2_STATE_ERR_NO_FEATURE;
    for (int c = 0; c < kNumControls; ++c) {
        size_t size = 0;
        uint32_t type = 0, flags = 0;
        const void* data = retrieve(state, mixer.key[c], &size, &type, &flags);
        if (data == nullptr || type != mixer.atomFloat || size != sizeof(float)) continue;
        float value;
        std::memcpy(&value, data, sizeof value);
        if (value != value) continue;
        mixer.engine.setControl(c, storeValue(c, clampToRange(c, value)));
        setBit(mixer.adopt, c);
        mixer.recheck = true;
    }
    return LV2_STATE_SUCCESS;
}

const LV2_State_Interface kStateInterface = {save, restore};

// [discovery class]
const void* extensionData(const char* uri) {
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kStateInterface : nullptr;
}

const LV2_Descriptor kDescriptor = {kPluginUri, instantiate, connectPort, activate, run, deactivate, cleanup,
                                    extensionData};

}  // namespace

// [discovery class] The bundle's one plug-in.
extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
