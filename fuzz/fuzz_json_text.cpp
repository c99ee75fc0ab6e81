// Fuzz target: any bytes as a file name for the JSON report. The text must
// be valid UTF-8 that the JSON library writes and reads back, and the
// README's rule ("\\" is a backslash, "\xHH" the byte HH) must give back
// exactly the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/json_text.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string decode(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && hexDigit(text[i + 2]) >= 0 && hexDigit(text[i + 3]) >= 0) {
            bytes += static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3]));
            i += 3;
        } else {
            std::abort();  // a lone backslash: the rule could not be reversed
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = tools::jsonText(bytes);
    try {
        const std::string written = nlohmann::json({{"file", text}}).dump();
        if (nlohmann::json::parse(written)["file"].get<std::string>() != text) std::abort();
    } catch (const std::exception&) {
        std::abort();  // not valid UTF-8 after all
    }
    if (decode(text) != bytes) std::abort();
    return 0;
}
