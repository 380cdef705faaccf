// UTF-8 checks that CF strings need: strict validation (no overlong forms, no surrogates, nothing
// above U+10FFFF) and the length in UTF-16 code units, which is what CFStringGetLength counts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace devicefw::cf {

// The UTF-16 length of valid UTF-8 text, or nothing when the bytes are not valid UTF-8.
std::optional<size_t> Utf16LengthOfUtf8(std::string_view text);
bool IsAscii(std::string_view text);
// ISO Latin-1 bytes as UTF-8.
std::string Latin1ToUtf8(std::string_view text);

}  // namespace devicefw::cf
