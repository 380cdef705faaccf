#include "random_id.h"

#include <array>
#include <cstdio>
#include <random>

namespace vdevice {

std::string RandomUuid() {
  std::random_device source;
  std::array<unsigned, 4> words;
  for (unsigned& word : words) word = source();
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%04X-%04X%08X", words[0], words[1] >> 16,
                (words[1] & 0x0FFF) | 0x4000, ((words[2] >> 16) & 0x3FFF) | 0x8000, words[2] & 0xFFFF, words[3]);
  return text;
}

std::string RandomBytes(size_t count) {
  std::random_device source;
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(source() & 0xFF);
  return bytes;
}

}  // namespace vdevice
