// Messages as the front-end sees them: decoding Tandrel's packets and encoding commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace frontend {

struct Message {
  uint32_t command = 0;
  uint16_t status = 0;
  uint64_t task = 0;
  int format = 0;
  int64_t stage = 0;
  int64_t code = 0;
  std::string uuid;
  int64_t type = 0;
  std::optional<std::string> info;  // compact JSON text of the "info" member
  std::string attachment;           // inflated when the type is 0
  bool attachment_inflated = false;
  bool valid = false;  // false when the payload is not a message (no JSON, no 0x00)
  std::string error;
};

// Decodes a packet's payload; never throws, never reads past `length`.
Message DecodeMessage(uint32_t command, uint16_t status, uint64_t task, const uint8_t* payload, size_t length);
// The same for a payload read in two parts: `text` starts with the text part ("<format>", 0x00,
// JSON, 0x00) and `attachment` holds the rest; its memory is taken over, not copied. With
// `inflate` false a type-0 attachment stays as it arrived (attachment_inflated stays false).
Message DecodeMessage(uint32_t command, uint16_t status, uint64_t task, const std::string& text,
                      std::string&& attachment, bool inflate = true);
// The length of the text part at the start of `bytes`, or npos when its second 0x00 is not there.
size_t PayloadTextLength(const char* bytes, size_t length);

// The payload of a command: "<format>", 0x00, JSON, 0x00, attachment.
std::string EncodeCommandPayload(int format, const std::string& json, const std::string& attachment);

// A device command's JSON: {"uuid":..., "code":...} plus `members` (the inside of an object, may
// be empty), such as "\"stage\":2".
std::string DeviceCommandJson(const std::string& udid, int64_t code, const std::string& members = std::string());

// Compresses text the way commands carry their parameters (zlib format).
std::string CompressAttachment(const std::string& bytes);

// One JSON line: {"command","status","task","stage","code","uuid","type","info","attachment"}.
// A type-0 attachment that parses as JSON is embedded; others appear as {"size":N[,"file":F]}.
std::string MessageToJsonLine(const Message& message, const std::string& save_dir = std::string(),
                              int sequence = 0);

}  // namespace frontend
