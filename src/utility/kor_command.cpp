#include "utility/kor_command.h"

#include <cstring>

#include "platform/kst_zlib.h"

KorCommandPayload KorParseCommandPayload(const kst::IPCPacket* packet) {
  KorCommandPayload result;
  if (!packet || !packet->payload || packet->length == 0) return result;
  const char* bytes = reinterpret_cast<const char*>(packet->payload);
  const size_t length = static_cast<size_t>(packet->length);
  int format = 0;
  for (size_t i = 0; i < length && i < 9 && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
    format = format * 10 + (bytes[i] - '0');
  }
  result.format = format;
  const void* first_zero = std::memchr(bytes, 0, length);
  if (!first_zero) return result;
  size_t json_start = static_cast<size_t>(static_cast<const char*>(first_zero) - bytes) + 1;
  result.json = bytes + json_start;
  const void* json_end = std::memchr(result.json, 0, length - json_start);
  if (!json_end) {
    result.json_length = length - json_start;
    return result;
  }
  result.json_length = static_cast<size_t>(static_cast<const char*>(json_end) - result.json);
  size_t attachment_start = json_start + result.json_length + 1;
  if (attachment_start < length) {
    result.attachment = packet->payload + attachment_start;
    result.attachment_length = length - attachment_start;
  }
  return result;
}

std::string KorTaskIdText(const kst::IPCPacket* packet) {
  return std::to_string(packet ? packet->task_id : 0);
}

bool KorInflateAttachment(const KorCommandPayload& payload, std::string* out) {
  return kst::ZlibDecompress(payload.attachment, payload.attachment_length, kKorMaxInflatedAttachment, out);
}
