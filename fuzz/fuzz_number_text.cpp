// Fuzz target: the number-to-text helpers on every float and integer. Each
// text fits its bound, is a number, "Huge!", "NaN" or "-oo", and nothing
// undefined happens on the way (the sanitizers watch).
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "plugin/audioeffectx.h"

namespace {

class Helpers : public AudioEffectX {
public:
    Helpers() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

void check(bool condition) {
    if (!condition) std::abort();
}

void checkText(const char* text, VstInt32 maxLen) {
    const size_t length = std::strlen(text);
    check(length <= static_cast<size_t>(maxLen));
    if (length == 0) return;
    if (std::strncmp(text, "Huge!", length) == 0 || std::strncmp(text, "NaN", length) == 0 ||
        std::strncmp(text, "-oo", length) == 0)
        return;
    for (size_t i = 0; i < length; ++i)
        check(std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.' || (i == 0 && text[i] == '-'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    static Helpers helpers;
    float value;
    int32_t integer;
    std::memcpy(&value, data, 4);
    std::memcpy(&integer, data + 4, 4);
    const VstInt32 maxLen = data[8] % 12;
    char text[32];
    std::memset(text, 0x7F, sizeof text);
    helpers.float2string(value, text, maxLen);
    check(text[maxLen] == 0 && text[maxLen + 1] == 0x7F);
    checkText(text, maxLen);
    helpers.int2string(integer, text, maxLen);
    checkText(text, maxLen);
    helpers.dB2string(value, text, maxLen);
    checkText(text, maxLen);
    helpers.setSampleRate(std::fabs(static_cast<float>(integer)));
    helpers.Hz2string(value, text, maxLen);
    checkText(text, maxLen);
    helpers.ms2string(value, text, maxLen);
    checkText(text, maxLen);
    return 0;
}
