// A minimal concrete effect over the base classes, and a recording host
// callback, for unit tests of the base classes' services.
#pragma once

#include <vector>

#include "plugin/audioeffectx.h"

namespace unittest {

struct Call {
    AEffect* effect;
    VstInt32 opcode, index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

// The recording host: every call lands in calls; answer() gives the reply.
struct RecordingHost {
    static std::vector<Call> calls;
    static VstIntPtr answer;
    static VstIntPtr VSTCALLBACK callback(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt) {
        calls.push_back({e, opcode, index, value, ptr, opt});
        return answer;
    }
    static void reset(VstIntPtr reply = 0) {
        calls.clear();
        answer = reply;
    }
};

class TestEffect : public AudioEffectX {
public:
    explicit TestEffect(audioMasterCallback host, VstInt32 programs = 1, VstInt32 params = 4)
        : AudioEffectX(host, programs, params) {}
    void processReplacing(float**, float**, VstInt32) override {}
    void setParameter(VstInt32 index, float value) override {
        if (index >= 0 && index < 4) values[index] = value;
    }
    float getParameter(VstInt32 index) override { return index >= 0 && index < 4 ? values[index] : 0.0f; }
    VstInt32 canDo(char*) override { return canDoAnswer; }
    float values[4] = {};
    VstInt32 canDoAnswer = 0;
    using AudioEffect::audioMaster;
    VstInt32 flags() { return getAeffect()->flags; }
};

}  // namespace unittest
