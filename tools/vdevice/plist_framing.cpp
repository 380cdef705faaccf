#include "plist_framing.h"

#include "byte_order.h"
#include "log.h"

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

bool ReadRequestDictionary(ServiceStream& stream, const std::string& who, PlistPtr* request) {
  std::string error;
  FrameStatus status = ReadFramedPlist(stream, LengthOrder::kBig, request, &error);
  if (status == FrameStatus::kClosed) return false;
  if (status == FrameStatus::kMessage && plist_get_node_type(request->get()) == PLIST_DICT) return true;
  LogLine("%s: bad request frame (%s); closing", who.c_str(),
          status == FrameStatus::kEmpty ? "empty" : error.empty() ? "not a dictionary" : error.c_str());
  return false;
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
