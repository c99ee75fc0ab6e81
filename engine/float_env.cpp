#include "float_env.h"

#include <cstring>

namespace tarnvale {

#if TARNVALE_HAS_MXCSR
uint32_t audioControlWord() {
    uint32_t word = kMxcsrMaskAll | kMxcsrFlushToZero;
#if defined(__x86_64__)
    word |= kMxcsrDenormalsAreZero;  // every x86-64 processor has it
#else
    // The processor lists the control bits it accepts in the save area;
    // setting one it lacks would fault.
    alignas(16) unsigned char area[512] = {};
    __asm__ __volatile__("fxsave %0" : "=m"(area));
    uint32_t accepted;
    std::memcpy(&accepted, area + 28, sizeof accepted);
    if (accepted == 0) accepted = 0xFFBF;  // an empty field means the default set, without it
    if ((accepted & kMxcsrDenormalsAreZero) != 0) word |= kMxcsrDenormalsAreZero;
#endif
    return word;
}
#endif

}  // namespace tarnvale
