// The AFC wire format. Every packet starts with a 40-byte little-endian header: the magic
// "CFA6LPAA", the entire packet length, the length of header plus parameters ("this length"),
// the packet number and the operation. Parameters follow up to "this length", a payload (file
// data) up to the entire length. Replies echo the request's packet number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace devicefw::md {

inline constexpr size_t kAfcHeaderSize = 40;

enum AfcOperation : uint64_t {
  kAfcOpStatus = 0x01,
  kAfcOpData = 0x02,
  kAfcOpReadDirectory = 0x03,
  kAfcOpRemovePath = 0x08,
  kAfcOpMakeDirectory = 0x09,
  kAfcOpGetFileInfo = 0x0A,
  kAfcOpGetDeviceInfo = 0x0B,
  kAfcOpFileOpen = 0x0D,
  kAfcOpFileOpenResult = 0x0E,
  kAfcOpFileRead = 0x0F,
  kAfcOpFileWrite = 0x10,
  kAfcOpFileSeek = 0x11,
  kAfcOpFileTell = 0x12,
  kAfcOpFileTellResult = 0x13,
  kAfcOpFileClose = 0x14,
  kAfcOpFileSetSize = 0x15,
  kAfcOpRenamePath = 0x18,
  kAfcOpFileLock = 0x1B,
};

// Lock operations of kAfcOpFileLock (flock values, always non-blocking).
inline constexpr uint64_t kAfcLockShared = 1 | 4;
inline constexpr uint64_t kAfcLockExclusive = 2 | 4;
inline constexpr uint64_t kAfcLockUnlock = 8 | 4;

struct AfcHeader {
  uint64_t entire_length = 0;
  uint64_t this_length = 0;
  uint64_t packet_number = 0;
  uint64_t operation = 0;
};

void EncodeAfcHeader(const AfcHeader& header, uint8_t* out);
// False when the magic is wrong or the lengths contradict each other.
bool DecodeAfcHeader(const uint8_t* bytes, AfcHeader* header);

// Builds a request's parameter block.
class AfcParameters {
 public:
  AfcParameters& U64(uint64_t value);
  AfcParameters& Text(std::string_view text);  // with its terminating zero
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

uint64_t ReadLittleEndian64(const uint8_t* bytes);
// The zero-terminated strings of a reply body (a trailing piece without terminator counts too).
std::vector<std::string> SplitZeroTerminated(const uint8_t* body, size_t length);
std::vector<std::string> SplitZeroTerminated(const std::vector<uint8_t>& body);

}  // namespace devicefw::md
