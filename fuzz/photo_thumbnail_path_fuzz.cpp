// The thumbnail key and place builder over hostile photo paths and modification times (the path
// comes from the front-end, the time from the device), and the regexp function it sits beside.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "utility/kor_sql_regexp.h"
#include "utility/module/photo/kor_photo_thumbnail_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t seconds = 0;
  if (size >= sizeof(seconds)) {
    std::memcpy(&seconds, data, sizeof(seconds));
    data += sizeof(seconds);
    size -= sizeof(seconds);
  }
  std::string path(reinterpret_cast<const char*>(data), size);
  for (const std::string& candidate : KorThumbnailCandidates(path, seconds != 0, seconds)) {
    if (candidate.empty() || candidate.front() != '/') __builtin_trap();
  }
  // The matcher is linear in both texts, so inputs of any length are searched: a hostile pattern
  // that takes long is a fault.
  size_t half = path.size() / 2;
  KorRegexpSearch(path.substr(0, half), path.substr(half));
  return 0;
}
