// The module's entry point: the host calls it once per effect instance it
// wants and gets back the instance's effect record.
#include "plugin_factory.h"

#if defined(_WIN32)
#define TARNVALE_EXPORT  // exported by the module-definition file, with "main" beside it
#else
#define TARNVALE_EXPORT __attribute__((visibility("default")))
#endif

// [main thread]
extern "C" TARNVALE_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
    if (audioMaster == nullptr) return nullptr;
    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    AudioEffect* effect = createEffectInstance(audioMaster);
    return effect != nullptr ? effect->getAeffect() : nullptr;
}

// Older hosts look the entry point up as "main". C++ reserves that name for
// the program's own entry, so the alias is given its symbol name directly.
// (Programs that link the entry point in, such as fuzzers, have a main of
// their own and leave the alias out.)
#if !defined(TARNVALE_NO_MAIN_ALIAS) && !defined(_WIN32)
extern "C" TARNVALE_EXPORT AEffect* VSTCALLBACK tarnvaleMainAlias(audioMasterCallback audioMaster)
    __asm__("main") __attribute__((alias("VSTPluginMain")));
#endif
