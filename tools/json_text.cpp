#include "json_text.h"

namespace tools {

namespace {

// The length of the valid UTF-8 character at s[i], or 0 when there is none
// (a stray continuation byte, an over-long form, a surrogate, a value past
// U+10FFFF, a character cut short).
size_t characterLength(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string jsonText(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = characterLength(bytes, i);
        if (length == 0) {
            const auto b = static_cast<unsigned char>(bytes[i++]);
            text += "\\x";
            text += kHex[b >> 4];
            text += kHex[b & 15];
            continue;
        }
        if (bytes[i] == '\\') text += '\\';
        text.append(bytes, i, length);
        i += length;
    }
    return text;
}

}  // namespace tools
