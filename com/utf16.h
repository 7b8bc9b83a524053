// UTF-8 <-> UTF-16 for text that crosses from the platform (sysfs, the system log, test scripts)
// into COM's 16-bit strings. Malformed input never fails: each bad sequence becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace standin {

std::u16string utf8ToUtf16(std::string_view text);
// `text` is terminated; lone surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text);

}  // namespace standin
