#include "platform/kst_utility_string.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[*pos]; advances *pos; returns false for a bad sequence.
bool DecodeUtf8(std::string_view text, size_t* pos, char32_t* out) {
  unsigned char lead = static_cast<unsigned char>(text[*pos]);
  size_t extra;
  char32_t value;
  if (lead < 0x80) {
    *out = lead;
    ++*pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    value = lead & 0x07;
  } else {
    ++*pos;
    return false;
  }
  if (*pos + extra >= text.size()) {
    ++*pos;
    return false;
  }
  for (size_t i = 1; i <= extra; ++i) {
    unsigned char next = static_cast<unsigned char>(text[*pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++*pos;
      return false;
    }
    value = (value << 6) | (next & 0x3F);
  }
  static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  *pos += extra + 1;
  if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *out = value;
  return true;
}

void EncodeUtf8(char32_t value, std::string* out) {
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = kReplacement;
  if (value < 0x80) {
    out->push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (value >> 6)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (value >> 12)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (value >> 18)));
    out->push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

template <typename Char>
Char* CopyToBuffer(const std::basic_string<Char>& text) {
  auto* buffer = static_cast<Char*>(std::malloc((text.size() + 1) * sizeof(Char)));
  if (!buffer) return nullptr;
  std::memcpy(buffer, text.data(), text.size() * sizeof(Char));
  buffer[text.size()] = 0;
  return buffer;
}

std::vector<std::string> SplitVersion(const char* text) {
  std::vector<std::string> parts;
  std::string current;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '.') {
      parts.push_back(current);
      current.clear();
    } else {
      current.push_back(*p);
    }
  }
  parts.push_back(current);
  return parts;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int CompareNumberTexts(std::string a, std::string b) {
  a.erase(0, std::min(a.find_first_not_of('0'), a.size()));
  b.erase(0, std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int CompareComponent(const std::string& a, const std::string& b) {
  std::string left = a.empty() ? "0" : a;
  std::string right = b.empty() ? "0" : b;
  if (AllDigits(left) && AllDigits(right)) return CompareNumberTexts(left, right);
  int order = left.compare(right);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

std::wstring KSTUtilityString::Utf8ToWide(std::string_view text) {
  std::wstring result;
  result.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t value;
    if (!DecodeUtf8(text, &pos, &value)) value = kReplacement;
    result.push_back(static_cast<wchar_t>(value));
  }
  return result;
}

std::string KSTUtilityString::WideToUtf8(std::wstring_view text) {
  std::string result;
  result.reserve(text.size());
  for (wchar_t c : text) EncodeUtf8(static_cast<char32_t>(c), &result);
  return result;
}

std::string KSTUtilityString::Utf16LeToUtf8(const uint8_t* data, size_t byte_length) {
  std::string result;
  result.reserve(byte_length / 2);
  size_t units = byte_length / 2;
  auto unit_at = [data](size_t i) { return static_cast<char32_t>(data[2 * i] | (data[2 * i + 1] << 8)); };
  for (size_t i = 0; i < units; ++i) {
    char32_t unit = unit_at(i);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units && unit_at(i + 1) >= 0xDC00 && unit_at(i + 1) < 0xE000) {
      EncodeUtf8(0x10000 + ((unit - 0xD800) << 10) + (unit_at(i + 1) - 0xDC00), &result);
      ++i;
      continue;
    }
    EncodeUtf8(unit, &result);  // a lone surrogate becomes U+FFFD there
  }
  return result;
}

bool KSTUtilityString::IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t value;
    if (!DecodeUtf8(text, &pos, &value)) return false;
  }
  return true;
}

char* KSTUtilityString::ConvertUnicodeToUtf8(const wchar_t* text) {
  return CopyToBuffer(WideToUtf8(text ? std::wstring_view(text) : std::wstring_view()));
}

wchar_t* KSTUtilityString::ConvertUtf8ToUnicode(const char* text) {
  return CopyToBuffer(Utf8ToWide(text ? std::string_view(text) : std::string_view()));
}

char* KSTUtilityString::ConvertUtf8ToAnsi(const char* text) {
  return CopyToBuffer(std::string(text ? text : ""));
}

void KSTUtilityString::Free(void* buffer) { std::free(buffer); }

int KSTUtilityString::CompareVersion(const char* a, const char* b) {
  std::vector<std::string> left = SplitVersion(a);
  std::vector<std::string> right = SplitVersion(b);
  size_t count = std::max(left.size(), right.size());
  for (size_t i = 0; i < count; ++i) {
    int order = CompareComponent(i < left.size() ? left[i] : "0", i < right.size() ? right[i] : "0");
    if (order != 0) return order;
  }
  return 0;
}
