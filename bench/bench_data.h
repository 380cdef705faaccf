// The bytes the device benchmarks serve and how they check them: a pseudo-random file and a
// streaming checksum, shared by every benchmark so that their figures check the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

constexpr uint64_t kChecksumSeed = 14695981039346656037ULL;

// Word-wise FNV-style mixing of `length` bytes into `sum` (start from kChecksumSeed); the tail
// shorter than a word is mixed byte by byte, so streamed pieces must be multiples of 8 bytes.
uint64_t MixChecksum(uint64_t sum, const void* data, size_t length);
uint64_t ChecksumOf(const void* data, size_t length);
// 0 when the file cannot be read.
uint64_t ChecksumOfFile(const std::string& path);

// `size` xorshift64 bytes: not compressible, never a long run of zeros.
bool WritePseudoRandomFile(const std::string& path, uint64_t size);

}  // namespace bench
