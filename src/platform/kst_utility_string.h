// Text conversions and version comparison. The converters return new NUL-terminated buffers
// that the caller frees with Free; the std::string forms are for C++ callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class KSTUtilityString {
 public:
  static char* ConvertUnicodeToUtf8(const wchar_t* text);
  static wchar_t* ConvertUtf8ToUnicode(const char* text);
  // The system's narrow code page; on this platform that is UTF-8, so the text is copied.
  static char* ConvertUtf8ToAnsi(const char* text);
  static void Free(void* buffer);

  // Negative, 0 or positive as dotted version `a` is lower, equal or higher than `b`.
  // Components compare as numbers when both are digits, else as text; missing ones count as 0.
  static int CompareVersion(const char* a, const char* b);

  // Invalid UTF-8 sequences become U+FFFD.
  static std::wstring Utf8ToWide(std::string_view text);
  // Code points that cannot be encoded become U+FFFD.
  static std::string WideToUtf8(std::wstring_view text);
  // UTF-16LE bytes (an odd last byte is dropped); unpaired surrogates become U+FFFD.
  static std::string Utf16LeToUtf8(const uint8_t* data, size_t byte_length);
  static bool IsValidUtf8(std::string_view text);
};
