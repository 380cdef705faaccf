// The archived attributed strings that message databases carry are device data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "utility/db/kor_typedstream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text;
  KorDecodeAttributedString(std::string_view(reinterpret_cast<const char*>(data), size), &text);
  return 0;
}
