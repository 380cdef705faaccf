#include "mux_protocol.h"

#include <cstring>

#include "byte_order.h"

namespace vdevice {

bool DecodeMuxHeader(const uint8_t* bytes, MuxHeader* header, std::string* error) {
  header->length = static_cast<uint32_t>(LoadLittle(bytes, 4));
  header->version = static_cast<uint32_t>(LoadLittle(bytes + 4, 4));
  header->message = static_cast<uint32_t>(LoadLittle(bytes + 8, 4));
  header->tag = static_cast<uint32_t>(LoadLittle(bytes + 12, 4));
  if (header->length < kMuxHeaderSize || header->length > kMaxMuxMessageBytes) {
    *error = "message length " + std::to_string(header->length) + " out of range";
    return false;
  }
  if (header->version != kMuxPlistVersion || header->message != kMuxPlistMessage) {
    *error = "unsupported version " + std::to_string(header->version) + " / message type " +
             std::to_string(header->message) + " (only property-list messages are spoken)";
    return false;
  }
  return true;
}

std::string EncodeMuxMessage(uint32_t tag, plist_t body) {
  std::string xml = ToXml(body);
  std::string message(kMuxHeaderSize, '\0');
  uint8_t* header = reinterpret_cast<uint8_t*>(message.data());
  StoreLittle(header, 4, kMuxHeaderSize + xml.size());
  StoreLittle(header + 4, 4, kMuxPlistVersion);
  StoreLittle(header + 8, 4, kMuxPlistMessage);
  StoreLittle(header + 12, 4, tag);
  return message + xml;
}

MuxReadStatus ReadMuxMessage(const kst::KstSocket& socket, uint32_t* tag, PlistPtr* body,
                             std::string* error) {
  uint8_t raw[kMuxHeaderSize];
  if (!socket.RecvAll(raw, sizeof(raw))) return MuxReadStatus::kClosed;
  MuxHeader header;
  if (!DecodeMuxHeader(raw, &header, error)) return MuxReadStatus::kMalformed;
  *tag = header.tag;
  std::string payload(header.length - kMuxHeaderSize, '\0');
  if (!payload.empty() && !socket.RecvAll(payload.data(), payload.size())) {
    *error = "connection closed inside a message";
    return MuxReadStatus::kClosed;
  }
  *body = ParsePlist(payload.data(), payload.size());
  if (!*body || plist_get_node_type(body->get()) != PLIST_DICT) {
    *error = "message body is not a property-list dictionary";
    return MuxReadStatus::kMalformed;
  }
  return MuxReadStatus::kMessage;
}

PlistPtr MuxResultMessage(uint32_t number) {
  PlistPtr reply = MakeDict();
  SetString(reply.get(), "MessageType", "Result");
  SetUnsigned(reply.get(), "Number", number);
  return reply;
}

}  // namespace vdevice
