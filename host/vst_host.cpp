#include "vst_host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstring>

namespace vsthost {

namespace {

// Which Host each live effect belongs to. While an entry point runs the
// effect's record is not known yet, so its calls go to the host creating it.
std::mutex registryMutex;
std::vector<std::pair<AEffect*, Host*>> registry;
thread_local Host* creatingHost = nullptr;

Host* hostFor(AEffect* effect) {
    if (effect != nullptr) {
        std::lock_guard<std::mutex> lock(registryMutex);
        for (const auto& entry : registry)
            if (entry.first == effect) return entry.second;
    }
    return creatingHost;
}

void registerEffect(AEffect* effect, Host* host) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.emplace_back(effect, host);
}

void unregisterEffect(AEffect* effect) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(std::remove_if(registry.begin(), registry.end(), [&](const auto& e) { return e.first == effect; }),
                   registry.end());
}

constexpr size_t kTextBuffer = 256;  // generous: some effects write past the nominal limits

}  // namespace

VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
    Host* host = hostFor(effect);
    if (host == nullptr) return opcode == audioMasterVersion ? 2400 : 0;
    return host->handle(HostCall{effect, opcode, index, value, ptr, opt, std::this_thread::get_id()});
}

Host::Host() { calls_.reserve(1 << 16); }

void Host::setAnswer(VstInt32 opcode, VstIntPtr answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : answers_)
        if (entry.first == opcode) {
            entry.second = answer;
            return;
        }
    answers_.emplace_back(opcode, answer);
}

std::vector<HostCall> Host::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<HostCall> Host::callsWith(VstInt32 opcode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HostCall> out;
    for (const auto& call : calls_)
        if (call.opcode == opcode) out.push_back(call);
    return out;
}

size_t Host::callCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

size_t Host::countOf(VstInt32 opcode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opcode >= 0 && static_cast<size_t>(opcode) < counts_.size() ? counts_[static_cast<size_t>(opcode)] : 0;
}

void Host::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

VstIntPtr Host::handle(const HostCall& call) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        if (call.opcode >= 0 && static_cast<size_t>(call.opcode) < counts_.size()) ++counts_[static_cast<size_t>(call.opcode)];
        if (!responder) {
            for (const auto& entry : answers_)
                if (entry.first == call.opcode) return entry.second;
        }
    }
    if (responder) return responder(call);
    switch (call.opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(sampleRate);
    case audioMasterGetBlockSize: return blockSize;
    default: return 0;
    }
}

namespace {

#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) error = "cannot load " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(handle);
}
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : ("cannot load " + path);
    }
    return handle;
}
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error) {
    void* handle = openLibrary(path, error);
    if (handle == nullptr) return nullptr;
    void* symbol = findSymbol(handle, "VSTPluginMain");
    if (symbol == nullptr) symbol = findSymbol(handle, "main");
    if (symbol == nullptr) {
        closeLibrary(handle);
        error = path + " is not a VST 2.4 plug-in: it exports neither VSTPluginMain nor main";
        return nullptr;
    }
    EntryPoint entry;
    std::memcpy(&entry, &symbol, sizeof entry);
    return std::unique_ptr<Module>(new Module(handle, entry, path));
}

Module::~Module() { closeLibrary(handle_); }

EventList& EventList::midi(VstInt32 deltaFrames, uint8_t status, uint8_t data1, uint8_t data2) {
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = deltaFrames;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    VstEvent generic;
    std::memcpy(&generic, &event, sizeof generic);
    events_.push_back(generic);
    return *this;
}

EventList& EventList::raw(const VstEvent& event) {
    events_.push_back(event);
    return *this;
}

VstEvents* EventList::get() {
    const size_t count = events_.size();
    const size_t header = offsetof(VstEvents, events);
    storage_.assign(header + sizeof(VstEvent*) * std::max<size_t>(count, 2), 0);
    auto* list = reinterpret_cast<VstEvents*>(storage_.data());
    list->numEvents = static_cast<VstInt32>(count);
    auto** pointers = reinterpret_cast<VstEvent**>(storage_.data() + header);
    for (size_t i = 0; i < count; ++i) pointers[i] = &events_[i];
    return list;
}

std::unique_ptr<Plugin> Plugin::create(const Module& module, Host& host, std::string& error) {
    Host* previous = creatingHost;
    creatingHost = &host;
    AEffect* effect = module.entryPoint()(hostCallback);
    creatingHost = previous;
    if (effect == nullptr) {
        error = module.path() + ": the plug-in refused to create an effect";
        return nullptr;
    }
    if (effect->magic != kEffectMagic) {
        error = module.path() + ": the entry point answered something that is not a VST 2.4 effect record";
        return nullptr;
    }
    registerEffect(effect, &host);
    return std::unique_ptr<Plugin>(new Plugin(effect, host));
}

Plugin::~Plugin() { close(); }

VstIntPtr Plugin::close() {
    if (effect_ == nullptr) return 0;
    AEffect* effect = effect_;
    effect_ = nullptr;
    effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0.0f);
    const VstIntPtr answer = effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    unregisterEffect(effect);
    return answer;
}

void Plugin::start(float sampleRate, VstInt32 blockSize) {
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    dispatch(effMainsChanged, 0, 1);
}

VstIntPtr Plugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void Plugin::setParameter(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }
float Plugin::getParameter(VstInt32 index) { return effect_->getParameter(effect_, index); }

void Plugin::process(float** inputs, float** outputs, VstInt32 frames) {
    if (effect_->process != nullptr) effect_->process(effect_, inputs, outputs, frames);
}
void Plugin::processReplacing(float** inputs, float** outputs, VstInt32 frames) {
    if (effect_->processReplacing != nullptr) effect_->processReplacing(effect_, inputs, outputs, frames);
}
void Plugin::processDoubleReplacing(double** inputs, double** outputs, VstInt32 frames) {
    if (effect_->processDoubleReplacing != nullptr) effect_->processDoubleReplacing(effect_, inputs, outputs, frames);
}

std::string Plugin::textOpcode(VstInt32 opcode, VstInt32 index) {
    char buffer[kTextBuffer] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[kTextBuffer - 1] = '\0';
    return buffer;
}

std::string Plugin::effectName() { return textOpcode(effGetEffectName, 0); }
std::string Plugin::vendorString() { return textOpcode(effGetVendorString, 0); }
std::string Plugin::productString() { return textOpcode(effGetProductString, 0); }
std::string Plugin::parameterName(VstInt32 index) { return textOpcode(effGetParamName, index); }
std::string Plugin::parameterDisplay(VstInt32 index) { return textOpcode(effGetParamDisplay, index); }
std::string Plugin::parameterLabel(VstInt32 index) { return textOpcode(effGetParamLabel, index); }

bool Plugin::inputProperties(VstInt32 index, VstPinProperties& properties) {
    return dispatch(effGetInputProperties, index, 0, &properties) != 0;
}
bool Plugin::outputProperties(VstInt32 index, VstPinProperties& properties) {
    return dispatch(effGetOutputProperties, index, 0, &properties) != 0;
}

VstIntPtr Plugin::canDo(const std::string& capability) {
    std::vector<char> text(capability.begin(), capability.end());
    text.push_back('\0');
    return dispatch(effCanDo, 0, 0, text.data());
}

}  // namespace vsthost
