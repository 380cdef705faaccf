// Plain text out of an archived attributed string in the typedstream format (the archiver format
// that message databases use for "attributedBody").
//
// Usage:
//   std::string text;
//   if (KorDecodeAttributedString(blob, &text)) ...   // text is valid UTF-8
// The blob comes from a device database and is hostile: every length, reference and nesting level
// is bounded, and anything unexpected answers false without reading past the blob.
#pragma once

#include <string>
#include <string_view>

// The longest text that is decoded; longer strings answer false.
constexpr size_t kKorTypedStreamMaxText = 1u << 20;

// Finds the first string object of the archive (class NSString or one derived from it, such as
// NSMutableString) and returns its characters, invalid UTF-8 sequences replaced by U+FFFD.
bool KorDecodeAttributedString(std::string_view blob, std::string* text);

// Replaces each invalid UTF-8 sequence by U+FFFD.
std::string KorValidUtf8(std::string_view bytes);
bool KorIsValidUtf8(std::string_view bytes);
