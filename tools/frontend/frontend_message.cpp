#include "frontend_message.h"

#include <rapidjson/document.h>

#include <cstring>
#include <fstream>

#include "platform/kst_zlib.h"
#include "platform/vel_json_util.h"

namespace frontend {

namespace {

constexpr size_t kMaxInflated = 1024u * 1024 * 1024;

int64_t IntMember(const rapidjson::Value& object, const char* key) {
  int64_t value = 0;
  VelJsonUtil::GetInt64(object, key, &value);
  return value;
}

bool ParseMessageJson(const char* text, size_t length, Message* message) {
  rapidjson::Document document;
  if (!VelJsonUtil::Parse(text, length, &document) || !document.IsObject()) {
    message->error = "message JSON does not parse";
    return false;
  }
  message->stage = IntMember(document, "stage");
  message->code = IntMember(document, "code");
  message->type = IntMember(document, "type");
  VelJsonUtil::GetString(document, "uuid", &message->uuid);
  auto info = document.FindMember("info");
  if (info != document.MemberEnd()) message->info = VelJsonUtil::ToString(info->value);
  return true;
}

}  // namespace

namespace {

// Reads the text part of a payload; the offset where the attachment starts, or npos.
size_t DecodeText(const char* bytes, size_t length, Message* message) {
  if (!bytes || length == 0) {
    message->error = "empty payload";
    return std::string::npos;
  }
  const char* first = static_cast<const char*>(std::memchr(bytes, 0, length));
  if (!first) {
    message->error = "no 0x00 after the format number";
    return std::string::npos;
  }
  message->format = std::atoi(std::string(bytes, static_cast<size_t>(first - bytes)).c_str());
  const char* json = first + 1;
  size_t rest = length - static_cast<size_t>(json - bytes);
  const char* end = static_cast<const char*>(std::memchr(json, 0, rest));
  if (!end) {
    message->error = "no 0x00 after the JSON text";
    return std::string::npos;
  }
  if (!ParseMessageJson(json, static_cast<size_t>(end - json), message)) return std::string::npos;
  return static_cast<size_t>(end + 1 - bytes);
}

void InflateTypeZero(Message* message) {
  if (message->type != 0 || message->attachment.empty()) return;
  std::string inflated;
  if (kst::ZlibDecompress(reinterpret_cast<const uint8_t*>(message->attachment.data()), message->attachment.size(),
                          kMaxInflated, &inflated)) {
    message->attachment.swap(inflated);
    message->attachment_inflated = true;
  } else {
    message->error = "type-0 attachment does not inflate";
  }
}

Message Header(uint32_t command, uint16_t status, uint64_t task) {
  Message message;
  message.command = command;
  message.status = status;
  message.task = task;
  return message;
}

}  // namespace

Message DecodeMessage(uint32_t command, uint16_t status, uint64_t task, const uint8_t* payload, size_t length) {
  Message message = Header(command, status, task);
  size_t attachment = DecodeText(reinterpret_cast<const char*>(payload), length, &message);
  if (attachment == std::string::npos) return message;
  message.attachment.assign(reinterpret_cast<const char*>(payload) + attachment, length - attachment);
  InflateTypeZero(&message);
  message.valid = true;
  return message;
}

Message DecodeMessage(uint32_t command, uint16_t status, uint64_t task, const std::string& text,
                      std::string&& attachment, bool inflate) {
  Message message = Header(command, status, task);
  size_t text_end = DecodeText(text.data(), text.size(), &message);
  if (text_end == std::string::npos) return message;
  if (text_end != text.size()) {
    std::string joined(text, text_end);
    joined += attachment;
    attachment.swap(joined);
  }
  message.attachment = std::move(attachment);
  if (inflate) InflateTypeZero(&message);
  message.valid = true;
  return message;
}

size_t PayloadTextLength(const char* bytes, size_t length) {
  const char* first = static_cast<const char*>(std::memchr(bytes, 0, length));
  if (!first) return std::string::npos;
  size_t rest = length - static_cast<size_t>(first + 1 - bytes);
  const char* second = static_cast<const char*>(std::memchr(first + 1, 0, rest));
  return second ? static_cast<size_t>(second + 1 - bytes) : std::string::npos;
}

std::string EncodeCommandPayload(int format, const std::string& json, const std::string& attachment) {
  std::string payload = std::to_string(format);
  payload.push_back('\0');
  payload += json;
  payload.push_back('\0');
  payload += attachment;
  return payload;
}

std::string DeviceCommandJson(const std::string& udid, int64_t code, const std::string& members) {
  rapidjson::Document json(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(json, json.GetAllocator(), "uuid", udid);
  VelJsonUtil::AddJsonDictInt64Value(json, json.GetAllocator(), "code", code);
  std::string text = VelJsonUtil::ToString(json);
  if (members.empty()) return text;
  text.pop_back();
  return text + "," + members + "}";
}

std::string CompressAttachment(const std::string& bytes) {
  std::vector<uint8_t> out;
  kst::ZlibCompress(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 9, &out);
  return std::string(out.begin(), out.end());
}

std::string MessageToJsonLine(const Message& message, const std::string& save_dir, int sequence) {
  rapidjson::Document line(rapidjson::kObjectType);
  auto& allocator = line.GetAllocator();
  VelJsonUtil::AddJsonDictInt64Value(line, allocator, "command", message.command);
  VelJsonUtil::AddJsonDictInt64Value(line, allocator, "status", message.status);
  VelJsonUtil::AddJsonDictStringValue(line, allocator, "task", std::to_string(message.task));
  VelJsonUtil::AddJsonDictInt64Value(line, allocator, "stage", message.stage);
  VelJsonUtil::AddJsonDictInt64Value(line, allocator, "code", message.code);
  VelJsonUtil::AddJsonDictStringValue(line, allocator, "uuid", message.uuid);
  VelJsonUtil::AddJsonDictInt64Value(line, allocator, "type", message.type);
  rapidjson::Value info(rapidjson::kNullType);
  rapidjson::Document info_document;
  if (message.info && VelJsonUtil::Parse(*message.info, &info_document)) info.CopyFrom(info_document, allocator);
  VelJsonUtil::AddJsonDictObjectValue(line, allocator, "info", info);
  rapidjson::Value attachment(rapidjson::kNullType);
  rapidjson::Document parsed;
  if (!message.attachment.empty()) {
    if (message.attachment_inflated && VelJsonUtil::Parse(message.attachment, &parsed)) {
      attachment.CopyFrom(parsed, allocator);
    } else {
      attachment.SetObject();
      VelJsonUtil::AddJsonDictInt64Value(attachment, allocator, "size", static_cast<int64_t>(message.attachment.size()));
      if (!save_dir.empty()) {
        std::string file = save_dir + "/attachment-" + std::to_string(message.task) + "-" + std::to_string(sequence);
        std::ofstream out(file, std::ios::binary);
        out.write(message.attachment.data(), static_cast<std::streamsize>(message.attachment.size()));
        VelJsonUtil::AddJsonDictStringValue(attachment, allocator, "file", file);
      }
    }
  }
  VelJsonUtil::AddJsonDictObjectValue(line, allocator, "attachment", attachment);
  if (!message.valid) VelJsonUtil::AddJsonDictStringValue(line, allocator, "error", message.error);
  return VelJsonUtil::ToString(line);
}

}  // namespace frontend
