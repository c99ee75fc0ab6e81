// The one call from the host interface into the effect it hosts.
#pragma once

#include "audioeffect.h"

// [main thread] Creates one effect instance, or null when out of memory.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
