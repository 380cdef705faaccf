#include "bench_data.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/kst_file.h"

namespace bench {

namespace {

constexpr size_t kPieceBytes = 4u << 20;
constexpr uint64_t kChecksumPrime = 1099511628211ULL;

}  // namespace

uint64_t MixChecksum(uint64_t sum, const void* data, size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    sum = (sum ^ word) * kChecksumPrime;
  }
  for (; i < length; ++i) sum = (sum ^ bytes[i]) * kChecksumPrime;
  return sum;
}

uint64_t ChecksumOf(const void* data, size_t length) { return MixChecksum(kChecksumSeed, data, length); }

uint64_t ChecksumOfFile(const std::string& path) {
  kst::KstFile file;
  if (file.Open(path, kst::FileOpenMode::kRead) != 0) return 0;
  std::vector<unsigned char> buffer(kPieceBytes);
  uint64_t sum = kChecksumSeed;
  for (;;) {
    size_t count = 0;
    if (file.Read(buffer.data(), buffer.size(), &count) != 0) return 0;
    if (count == 0) break;
    sum = MixChecksum(sum, buffer.data(), count);
  }
  return sum;
}

bool WritePseudoRandomFile(const std::string& path, uint64_t size) {
  kst::KstFile file;
  if (file.Open(path, kst::FileOpenMode::kWriteTruncate) != 0) return false;
  std::vector<char> block(kPieceBytes);
  uint64_t state = 88172645463325252ULL;
  for (uint64_t written = 0; written < size; written += block.size()) {
    for (size_t i = 0; i + 8 <= block.size(); i += 8) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      std::memcpy(block.data() + i, &state, 8);
    }
    size_t length = static_cast<size_t>(std::min<uint64_t>(block.size(), size - written));
    if (file.Write(block.data(), length) != 0) return false;
  }
  return true;
}

}  // namespace bench
