// AudioEffect: the base effect. It owns the effect record handed to the host,
// turns the record's calls into virtual operations with harmless defaults,
// wraps the first host services and makes parameter value texts.
#pragma once

#include <memory>

#include "vst_interface.h"

// An effect's editor window. Tarnvale never attaches one; the base only needs
// to be able to own and free it.
class AEffEditor {
public:
    virtual ~AEffEditor() = default;
};

class AudioEffect {
public:
    // [main thread] Called by the entry point's factory.
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    // [main thread] Reached only from effClose through the record's dispatcher.
    virtual ~AudioEffect();

    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // [any thread] Opcodes 0 to 24; everything else answers 0.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    // [main thread]
    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float sampleRate) { this->sampleRate = sampleRate; }
    virtual void setBlockSize(VstInt32 blockSize) { this->blockSize = blockSize; }

    // [audio thread] no allocation, no locks.
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    // [audio thread] no allocation, no locks. The base leaves the outputs as they are.
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/, VstInt32 /*sampleFrames*/) {}

    // [any thread] no allocation, no locks.
    virtual void setParameter(VstInt32 /*index*/, float /*value*/) {}
    // [any thread] no allocation, no locks.
    virtual float getParameter(VstInt32 /*index*/) { return 0.0f; }
    // [any thread] no allocation, no locks. Stores the value, then tells the host.
    virtual void setParameterAutomated(VstInt32 index, float value);

    // [main thread]
    virtual VstInt32 getProgram() { return currentProgram; }
    virtual void setProgram(VstInt32 program) { currentProgram = program; }
    virtual void setProgramName(char* /*name*/) {}
    virtual void getProgramName(char* name);
    // [any thread] Texts for the host's parameter panel.
    virtual void getParameterLabel(VstInt32 index, char* label);
    virtual void getParameterDisplay(VstInt32 index, char* text);
    virtual void getParameterName(VstInt32 index, char* text);
    // [main thread]
    virtual VstInt32 getChunk(void** /*data*/, bool /*isPreset*/ = false) { return 0; }
    virtual VstInt32 setChunk(void* /*data*/, VstInt32 /*byteSize*/, bool /*isPreset*/ = false) { return 0; }

    // [main thread] Before the record is handed out.
    virtual void setUniqueID(VstInt32 iD) { effectRecord.uniqueID = iD; }
    virtual void setNumInputs(VstInt32 inputs) { effectRecord.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { effectRecord.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true) { setFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state = true) { setFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state = true) { setFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(VstInt32 delay) { effectRecord.initialDelay = delay; }

    // [any thread]
    virtual AEffEditor* getEditor() { return editor.get(); }
    virtual AEffect* getAeffect() { return &effectRecord; }
    virtual float getSampleRate() { return sampleRate; }
    virtual VstInt32 getBlockSize() { return blockSize; }

    // [any thread] Each makes one host call.
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();

    // [any thread] no allocation, no locks. Each writes at most maxLen + 1 bytes.
    virtual void dB2string(float value, char* text, VstInt32 maxLen);
    virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    virtual void float2string(float value, char* text, VstInt32 maxLen);
    virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);

    // [audio thread] no allocation, no locks. The base leaves the outputs as they are.
    virtual void process(float** /*inputs*/, float** /*outputs*/, VstInt32 /*sampleFrames*/) {}
    // [any thread]
    virtual float getVu() { return 0.0f; }

    // [main thread] Before the record is handed out.
    virtual void hasVu(bool state = true) { setFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state = true) { setFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state = true) { setFlag(effFlagsCanMono, state); }
    virtual void setRealtimeQualities(VstInt32 qualities) { effectRecord.realQualities = qualities; }
    virtual void setOfflineQualities(VstInt32 qualities) { effectRecord.offQualities = qualities; }
    // [any thread] Each makes one host call.
    virtual bool isInputConnected(VstInt32 input);
    virtual bool isOutputConnected(VstInt32 output);

protected:
    // [any thread] One call to the host with this effect's record. Without a
    // host it answers 0, what a host answers for an opcode it does not know,
    // so every wrapper is one call and none needs a guard of its own.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void setFlag(VstInt32 bit, bool state) {
        if (state)
            effectRecord.flags |= bit;
        else
            effectRecord.flags &= ~bit;
    }

    audioMasterCallback audioMaster;
    std::unique_ptr<AEffEditor> editor;
    float sampleRate;
    VstInt32 blockSize;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 currentProgram;
    AEffect effectRecord;
};

// Writes text bounded by maxLen: its first maxLen characters, zeros up to and
// including byte maxLen. A negative maxLen writes nothing.
void vst_strncpy(char* dst, const char* src, VstInt32 maxLen);
