// The usbmuxd wire format of the property-list protocol: a 16-byte little-endian header
// (total length, version 1, message type 8, tag) followed by an XML property list.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kst_socket.h"
#include "plist_util.h"

namespace vdevice {

inline constexpr size_t kMuxHeaderSize = 16;
inline constexpr uint32_t kMuxPlistVersion = 1;
inline constexpr uint32_t kMuxPlistMessage = 8;
// No request a client sends comes near this; anything larger is treated as hostile.
inline constexpr uint32_t kMaxMuxMessageBytes = 1u << 20;

// usbmuxd's result numbers.
enum MuxResult : uint32_t {
  kMuxOk = 0,
  kMuxBadCommand = 1,
  kMuxBadDevice = 2,
  kMuxConnectionRefused = 3,
  kMuxBadVersion = 6,
};

struct MuxHeader {
  uint32_t length = 0;
  uint32_t version = 0;
  uint32_t message = 0;
  uint32_t tag = 0;
};

// Checks a received header; false with *error naming the first problem.
bool DecodeMuxHeader(const uint8_t* bytes, MuxHeader* header, std::string* error);
std::string EncodeMuxMessage(uint32_t tag, plist_t body);

enum class MuxReadStatus { kMessage, kClosed, kMalformed };
// Reads one whole message; the body is a dictionary when the status is kMessage.
MuxReadStatus ReadMuxMessage(const kst::KstSocket& socket, uint32_t* tag, PlistPtr* body,
                             std::string* error);

// A {"MessageType": "Result", "Number": n} reply.
PlistPtr MuxResultMessage(uint32_t number);

// usbmuxd carries ports in network byte order inside a little-endian integer.
inline uint16_t PortFromMux(uint64_t value) {
  uint16_t raw = static_cast<uint16_t>(value);
  return static_cast<uint16_t>((raw >> 8) | (raw << 8));
}

}  // namespace vdevice
