// Text for the JSON report from bytes that need not be UTF-8 (Linux file
// names are bytes; an effect's texts may be in any encoding). Every valid
// UTF-8 character is kept as it is, a backslash becomes two, and each byte
// that is not part of a valid UTF-8 character becomes the four characters
// \xHH (its value in hexadecimal), so the original bytes can be recovered
// exactly: read "\\" as one backslash and "\xHH" as the byte HH.
#pragma once

#include <string>

namespace tools {

// [any thread]
std::string jsonText(const std::string& bytes);

}  // namespace tools
