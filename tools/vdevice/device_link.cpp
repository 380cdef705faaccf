#include "device_link.h"

#include <cstdlib>

#include "log.h"

namespace vdevice {

HostRead ReadHostMessage(ServiceStream& stream, HostMessage* message) {
  std::string error;
  FrameStatus status = ReadFramedPlist(stream, LengthOrder::kBig, &message->array, &error);
  if (status == FrameStatus::kClosed) return HostRead::kClosed;
  if (status != FrameStatus::kMessage) {
    LogLine("%s: bad DeviceLink frame (%s)", stream.service().c_str(), status == FrameStatus::kEmpty ? "empty" : error.c_str());
    return HostRead::kMalformed;
  }
  plist_t array = message->array.get();
  plist_t first = plist_get_node_type(array) == PLIST_ARRAY && plist_array_get_size(array) > 0
                      ? plist_array_get_item(array, 0)
                      : nullptr;
  if (!first || plist_get_node_type(first) != PLIST_STRING) {
    LogLine("%s: a DeviceLink message must be an array led by its name", stream.service().c_str());
    return HostRead::kMalformed;
  }
  char* name = nullptr;
  plist_get_string_val(first, &name);
  message->name = name ? name : "";
  free(name);
  return HostRead::kMessage;
}

DeviceLinkMessage::DeviceLinkMessage(const std::string& name) : array_(plist_new_array()) { String(name); }

DeviceLinkMessage& DeviceLinkMessage::String(const std::string& value) {
  plist_array_append_item(array_.get(), plist_new_string(value.c_str()));
  return *this;
}

DeviceLinkMessage& DeviceLinkMessage::Unsigned(uint64_t value) {
  plist_array_append_item(array_.get(), plist_new_uint(value));
  return *this;
}

DeviceLinkMessage& DeviceLinkMessage::Real(double value) {
  plist_array_append_item(array_.get(), plist_new_real(value));
  return *this;
}

DeviceLinkMessage& DeviceLinkMessage::Node(PlistPtr value) {
  plist_array_append_item(array_.get(), value.release());
  return *this;
}

bool SendDeviceLink(ServiceStream& stream, const DeviceLinkMessage& message) {
  return SendFramedPlist(stream, LengthOrder::kBig, message.get(), PlistEncoding::kBinary);
}

bool SendProcessMessage(ServiceStream& stream, PlistPtr dict) {
  return SendDeviceLink(stream, DeviceLinkMessage("DLMessageProcessMessage").Node(std::move(dict)));
}

plist_t ProcessMessageDict(const HostMessage& message) {
  if (message.name != "DLMessageProcessMessage" || plist_array_get_size(message.array.get()) < 2) return nullptr;
  plist_t dict = plist_array_get_item(message.array.get(), 1);
  return plist_get_node_type(dict) == PLIST_DICT ? dict : nullptr;
}

}  // namespace vdevice
