#include "plist_framing.h"

#include "byte_order.h"

namespace vdevice {

namespace {

void StoreLength(uint8_t* bytes, LengthOrder order, uint64_t length) {
  if (order == LengthOrder::kBig) {
    StoreBig(bytes, 4, length);
  } else {
    StoreLittle(bytes, 4, length);
  }
}

}  // namespace

FrameStatus ReadFramedPlist(ServiceStream& stream, LengthOrder order, PlistPtr* message,
                            std::string* error) {
  uint8_t prefix[4];
  if (!stream.ReadExact(prefix, sizeof(prefix))) return FrameStatus::kClosed;
  uint64_t length = order == LengthOrder::kBig ? LoadBig(prefix, 4) : LoadLittle(prefix, 4);
  if (length == 0) return FrameStatus::kEmpty;
  if (length > kMaxFramedPlistBytes) {
    *error = "frame length " + std::to_string(length) + " exceeds the limit";
    return FrameStatus::kMalformed;
  }
  std::string payload(length, '\0');
  if (!stream.ReadExact(payload.data(), payload.size())) return FrameStatus::kClosed;
  *message = ParsePlist(payload.data(), payload.size());
  if (!*message) {
    *error = "frame of " + std::to_string(length) + " bytes is not a property list";
    return FrameStatus::kMalformed;
  }
  return FrameStatus::kMessage;
}

bool SendFramedPlist(ServiceStream& stream, LengthOrder order, plist_t message, PlistEncoding encoding) {
  std::string body = encoding == PlistEncoding::kXml ? ToXml(message) : ToBinary(message);
  uint8_t prefix[4];
  StoreLength(prefix, order, body.size());
  return stream.Send({{prefix, sizeof(prefix)}, {body.data(), body.size()}});
}

bool SendEmptyFrame(ServiceStream& stream, LengthOrder order) {
  uint8_t prefix[4];
  StoreLength(prefix, order, 0);
  return stream.Send({{prefix, sizeof(prefix)}});
}

}  // namespace vdevice
