// DeviceLink, the message layer of the backup service: every message is a property-list array
// whose first element names it ("DLMessageProcessMessage", "DLMessageStatusResponse", ...),
// framed like lockdown's (4-byte big-endian length). The device speaks first (version
// exchange) and, once a request came in, drives the conversation with file-operation messages.
#pragma once

#include <string>

#include "plist_framing.h"

namespace vdevice {

// The protocol's stand-in for an absent string argument.
inline constexpr const char* kEmptyParameterString = "___EmptyParameterString___";

// What the host answered to one of the device's messages.
struct HostMessage {
  PlistPtr array;    // the whole message
  std::string name;  // its first element
};

enum class HostRead { kMessage, kClosed, kMalformed };

// Reads one DeviceLink message; kMalformed for a frame that is not an array led by a name.
HostRead ReadHostMessage(ServiceStream& stream, HostMessage* message);

// Array building: strings, unsigned integers, reals and whole nodes, in order.
class DeviceLinkMessage {
 public:
  explicit DeviceLinkMessage(const std::string& name);
  DeviceLinkMessage& String(const std::string& value);
  DeviceLinkMessage& Unsigned(uint64_t value);
  DeviceLinkMessage& Real(double value);
  DeviceLinkMessage& Node(PlistPtr value);
  plist_t get() const { return array_.get(); }

 private:
  PlistPtr array_;
};

bool SendDeviceLink(ServiceStream& stream, const DeviceLinkMessage& message);
// ["DLMessageProcessMessage", dict]
bool SendProcessMessage(ServiceStream& stream, PlistPtr dict);
// The dict of a "DLMessageProcessMessage", or null.
plist_t ProcessMessageDict(const HostMessage& message);

}  // namespace vdevice
