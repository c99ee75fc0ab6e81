// A small VST 2.4 host: loads an effect module by path, answers and records
// the effect's callbacks, and wraps the effect record's functions. It works
// for any VST 2.4 effect module; tests, benchmarks and tarnvale-host use it.
#pragma once

#include <cstdint>
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/vst_interface.h"

namespace vsthost {

// One call the effect made to the host.
struct HostCall {
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    std::thread::id thread;
};

// The host side an effect sees through its callback. Answers are
// configurable per opcode; every call is recorded.
class Host {
public:
    Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Answer for one host opcode; by default the version query answers 2400,
    // the sample-rate and block-size queries the values below, all else 0.
    void setAnswer(VstInt32 opcode, VstIntPtr answer);
    // Takes over answering entirely when set.
    std::function<VstIntPtr(const HostCall&)> responder;

    double sampleRate = 44100.0;
    VstInt32 blockSize = 512;

    std::vector<HostCall> calls() const;
    std::vector<HostCall> callsWith(VstInt32 opcode) const;
    size_t callCount() const;
    // Calls with this opcode (0..63) since the host was made (clearCalls
    // keeps the count).
    size_t countOf(VstInt32 opcode) const;
    void clearCalls();

    // [any thread] Records the call and answers it.
    VstIntPtr handle(const HostCall& call);

private:
    mutable std::mutex mutex_;
    std::vector<HostCall> calls_;
    std::array<size_t, 64> counts_{};  // by host opcode; counting allocates nothing
    std::vector<std::pair<VstInt32, VstIntPtr>> answers_;
};

// A loaded module. Unloaded when destroyed; effects made from it must be
// closed first.
class Module {
public:
    using EntryPoint = AEffect*(VSTCALLBACK*)(audioMasterCallback);

    // Loads the module and finds its entry point ("VSTPluginMain", or "main"
    // for older modules). Null with a reason in error on failure.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    EntryPoint entryPoint() const { return entry_; }
    const std::string& path() const { return path_; }

private:
    Module(void* handle, EntryPoint entry, std::string path) : handle_(handle), entry_(entry), path_(std::move(path)) {}
    void* handle_;
    EntryPoint entry_;
    std::string path_;
};

// The host's callback as a plain function: finds the Host an effect belongs
// to and lets it answer.
VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt);

// A list of events for one block, owning its storage.
class EventList {
public:
    EventList& midi(VstInt32 deltaFrames, uint8_t status, uint8_t data1, uint8_t data2);
    EventList& controlChange(VstInt32 deltaFrames, uint8_t channel, uint8_t controller, uint8_t value) {
        return midi(deltaFrames, static_cast<uint8_t>(0xB0 | (channel & 0x0F)), controller, value);
    }
    // Any event record, copied as given (a SysEx or unknown type, say).
    EventList& raw(const VstEvent& event);
    size_t size() const { return events_.size(); }
    // The list as a host passes it; valid until the list changes.
    VstEvents* get();

private:
    std::vector<VstEvent> events_;
    std::vector<unsigned char> storage_;
};

// One effect instance made by a module's entry point.
class Plugin {
public:
    // Calls the entry point with hostCallback, answering through host. Null
    // with a reason in error when the module refuses or its record is bad.
    static std::unique_ptr<Plugin> create(const Module& module, Host& host, std::string& error);
    ~Plugin();  // closes the effect if still open
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    AEffect* effect() const { return effect_; }
    Host& host() const { return host_; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    void process(float** inputs, float** outputs, VstInt32 frames);
    void processReplacing(float** inputs, float** outputs, VstInt32 frames);
    void processDoubleReplacing(double** inputs, double** outputs, VstInt32 frames);
    VstIntPtr processEvents(EventList& events) { return dispatch(effProcessEvents, 0, 0, events.get()); }

    // Opcode helpers answering texts.
    std::string effectName();
    std::string vendorString();
    std::string productString();
    std::string parameterName(VstInt32 index);
    std::string parameterDisplay(VstInt32 index);
    std::string parameterLabel(VstInt32 index);
    // Answer of the pin query (0 or 1) and the record the effect filled.
    bool inputProperties(VstInt32 index, VstPinProperties& properties);
    bool outputProperties(VstInt32 index, VstPinProperties& properties);
    VstIntPtr canDo(const std::string& capability);

    // Opens and switches the effect on, as a host does before processing.
    void start(float sampleRate = 44100.0f, VstInt32 blockSize = 512);
    // Switches off and sends effClose, answering what effClose answered (0
    // when already closed); the record is gone afterwards.
    VstIntPtr close();
    bool isOpen() const { return effect_ != nullptr; }

private:
    Plugin(AEffect* effect, Host& host) : effect_(effect), host_(host) {}
    std::string textOpcode(VstInt32 opcode, VstInt32 index);
    AEffect* effect_;
    Host& host_;
};

}  // namespace vsthost
