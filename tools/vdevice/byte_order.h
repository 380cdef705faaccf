// Fixed-width integers in the byte orders the device protocols use, independent of the host's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdevice {

inline uint64_t LoadLittle(const uint8_t* bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

inline uint64_t LoadBig(const uint8_t* bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

inline void StoreLittle(uint8_t* bytes, size_t width, uint64_t value) {
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void StoreBig(uint8_t* bytes, size_t width, uint64_t value) {
  for (size_t i = 0; i < width; ++i) bytes[width - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace vdevice
