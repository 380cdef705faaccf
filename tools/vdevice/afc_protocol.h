// The AFC wire format: a 40-byte little-endian header ("CFA6LPAA", entire length, this length,
// packet number, operation), the operation's parameters up to "this length", then a payload
// (file data) up to "entire length". Replies echo the request's packet number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service_stream.h"

namespace vdevice {

inline constexpr size_t kAfcHeaderSize = 40;
// Parameters are paths and a few integers; payloads are file writes, which hosts send in
// pieces. Larger announcements are refused as hostile.
inline constexpr uint64_t kMaxAfcParameterBytes = 64 << 10;
inline constexpr uint64_t kMaxAfcPayloadBytes = 64 << 20;

enum AfcOperation : uint64_t {
  kAfcStatus = 0x01,
  kAfcData = 0x02,
  kAfcReadDirectory = 0x03,
  kAfcTruncatePath = 0x07,
  kAfcRemovePath = 0x08,
  kAfcMakeDirectory = 0x09,
  kAfcGetFileInfo = 0x0A,
  kAfcGetDeviceInfo = 0x0B,
  kAfcFileOpen = 0x0D,
  kAfcFileOpenResult = 0x0E,
  kAfcFileRead = 0x0F,
  kAfcFileWrite = 0x10,
  kAfcFileSeek = 0x11,
  kAfcFileTell = 0x12,
  kAfcFileTellResult = 0x13,
  kAfcFileClose = 0x14,
  kAfcFileSetSize = 0x15,
  kAfcRenamePath = 0x18,
  kAfcFileLock = 0x1B,
  kAfcMakeLink = 0x1C,
  kAfcGetFileHash = 0x1D,
  kAfcSetFileModTime = 0x1E,
  kAfcRemovePathAndContents = 0x22,
};

enum AfcError : uint64_t {
  kAfcSuccess = 0,
  kAfcUnknownError = 1,
  kAfcHeaderInvalid = 2,
  kAfcNoResources = 3,
  kAfcReadError = 4,
  kAfcWriteError = 5,
  kAfcUnknownPacketType = 6,
  kAfcInvalidArgument = 7,
  kAfcObjectNotFound = 8,
  kAfcObjectIsDirectory = 9,
  kAfcPermissionDenied = 10,
  kAfcObjectExists = 16,
  kAfcObjectBusy = 17,
  kAfcNoSpaceLeft = 18,
  kAfcWouldBlock = 19,
  kAfcIoError = 20,
  kAfcDirectoryNotEmpty = 33,
};

struct AfcHeader {
  uint64_t entire_length = 0;
  uint64_t this_length = 0;
  uint64_t packet_number = 0;
  uint64_t operation = 0;
};

bool DecodeAfcHeader(const uint8_t* bytes, AfcHeader* header, std::string* error);
void EncodeAfcHeader(const AfcHeader& header, uint8_t* bytes);

// A request as the reader hands it out: parameters and payload stay valid until the next request
// is read.
struct AfcRequest {
  AfcHeader header;
  std::string_view parameters;
  std::string_view payload;
};

enum class AfcReadStatus { kRequest, kClosed, kMalformed };

// Reads requests through one buffer: a single read takes in every request the host has sent so
// far (a host may keep several in flight), and parameters are used where they arrived. Only a
// payload too large for the buffer (a file write) is read on into a buffer of its own.
class AfcRequestReader {
 public:
  explicit AfcRequestReader(ServiceStream& stream);

  AfcReadStatus Next(AfcRequest* request, std::string* error);
  // True when the next request has arrived whole, so it can be answered without waiting.
  bool HasWholeRequest() const;

 private:
  // Waits until at least `wanted` unread bytes are buffered (at most the buffer's capacity).
  bool Fill(size_t wanted);
  AfcReadStatus ReadLargePayload(AfcRequest* request);

  ServiceStream& stream_;
  std::unique_ptr<char[]> buffer_;
  size_t start_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last received byte
  std::unique_ptr<char[]> payload_;
  size_t payload_capacity_ = 0;
};

// Sequential reader of a request's parameters; every read is bounds-checked.
class AfcParameters {
 public:
  explicit AfcParameters(std::string_view bytes) : bytes_(bytes) {}
  bool ReadU64(uint64_t* value);
  // A NUL-terminated string (the terminator may be missing at the very end).
  bool ReadString(std::string_view* value);
  bool ReadString(std::string* value);

 private:
  std::string_view bytes_;
  size_t offset_ = 0;
};

// Gathers replies and sends them together: replies to requests that arrived together leave in one
// write, and whatever is gathered goes out before the service waits for the host again (Flush).
// Bulk data leaves straight from the caller's buffer.
class AfcReplyWriter {
 public:
  explicit AfcReplyWriter(ServiceStream& stream) : stream_(stream) {}

  // A reply of `operation` whose parameters are `body` (status, handles, positions, lists).
  bool Reply(uint64_t packet_number, uint64_t operation, std::string_view body);
  bool Status(uint64_t packet_number, uint64_t status);
  // A data reply: the bytes travel as payload.
  bool Data(uint64_t packet_number, const char* data, size_t length);
  bool Flush();

 private:
  void AppendHeader(uint64_t packet_number, uint64_t operation, size_t this_length, size_t entire_length);
  bool Emit(uint64_t packet_number, uint64_t operation, std::string_view parameters, std::string_view payload);

  ServiceStream& stream_;
  std::string pending_;
};

std::string EncodeAfcU64(uint64_t value);
// Appends "key\0value\0" as AFC lists pairs.
void AppendAfcPair(std::string* out, std::string_view key, std::string_view value);
void AppendAfcNumberPair(std::string* out, std::string_view key, int64_t value);
// "key\0value\0..." and "name\0name\0..." as AFC lists them.
std::string EncodeAfcPairs(const std::vector<std::pair<std::string, std::string>>& pairs);
std::string EncodeAfcNames(const std::vector<std::string>& names);

}  // namespace vdevice
