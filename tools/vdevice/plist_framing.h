// Property lists behind a 4-byte length, the framing of lockdownd and most device services
// (big-endian) and of the ATC service (little-endian).
#pragma once

#include <string>

#include "plist_util.h"
#include "service_stream.h"

namespace vdevice {

enum class LengthOrder { kBig, kLittle };
enum class PlistEncoding { kXml, kBinary };

// Bounds a single framed message; larger lengths are treated as hostile input.
inline constexpr uint32_t kMaxFramedPlistBytes = 16u << 20;

enum class FrameStatus { kMessage, kEmpty, kClosed, kMalformed };

// Reads one frame. kEmpty is a zero-length frame (an end marker for some services).
FrameStatus ReadFramedPlist(ServiceStream& stream, LengthOrder order, PlistPtr* message,
                            std::string* error);
// Reads the next big-endian framed request, which must be a dictionary. False when the
// conversation is over: the peer closed, or sent something else (logged, naming `who`).
bool ReadRequestDictionary(ServiceStream& stream, const std::string& who, PlistPtr* request);

bool SendFramedPlist(ServiceStream& stream, LengthOrder order, plist_t message, PlistEncoding encoding);
bool SendEmptyFrame(ServiceStream& stream, LengthOrder order);

}  // namespace vdevice
