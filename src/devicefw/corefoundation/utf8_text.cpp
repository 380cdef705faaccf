#include "corefoundation/utf8_text.h"

#include <cstdint>

namespace devicefw::cf {
namespace {

struct SequenceShape {
  size_t length;        // bytes in the sequence, 0 for an invalid lead byte
  uint32_t lead_bits;   // payload bits of the lead byte
  uint32_t min_value;   // smallest code point this length may carry (rejects overlong forms)
};

SequenceShape ShapeOfLead(uint8_t lead) {
  if (lead < 0x80) return {1, lead, 0};
  if ((lead & 0xE0) == 0xC0) return {2, lead & 0x1Fu, 0x80};
  if ((lead & 0xF0) == 0xE0) return {3, lead & 0x0Fu, 0x800};
  if ((lead & 0xF8) == 0xF0) return {4, lead & 0x07u, 0x10000};
  return {0, 0, 0};
}

bool IsAcceptableCodePoint(uint32_t value, uint32_t min_value) {
  return value >= min_value && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

}  // namespace

std::optional<size_t> Utf16LengthOfUtf8(std::string_view text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    const SequenceShape shape = ShapeOfLead(static_cast<uint8_t>(text[i]));
    if (shape.length == 0 || text.size() - i < shape.length) return std::nullopt;
    uint32_t value = shape.lead_bits;
    for (size_t k = 1; k < shape.length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3Fu);
    }
    if (!IsAcceptableCodePoint(value, shape.min_value)) return std::nullopt;
    units += value >= 0x10000 ? 2 : 1;
    i += shape.length;
  }
  return units;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

}  // namespace devicefw::cf
