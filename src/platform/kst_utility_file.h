#pragma once

#include <cstdint>
#include <string>

class KSTUtilityFile {
 public:
  // The size of a file in bytes, or -1 when it cannot be read.
  static int64_t GetFileSize(const std::string& path);
};
