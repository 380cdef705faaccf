#include "utility/module/sms/kor_sms_json.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string_view>

#include "utility/db/kor_typedstream.h"

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Database texts are not trusted to be UTF-8; invalid bytes would make the whole batch unreadable.
void Text(JsonWriter& writer, const char* key, std::string_view value) {
  writer.Key(key);
  std::string valid = KorValidUtf8(value);
  writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void Number(JsonWriter& writer, const char* key, int64_t value) {
  writer.Key(key);
  writer.Int64(value);
}

void WriteHandle(JsonWriter& writer, const KorSmsHandle& handle) {
  writer.StartObject();
  Number(writer, "id", handle.handle_rowid);
  Number(writer, "chat_rowid", handle.chat_rowid);
  Text(writer, "chat_id", handle.chat_id);
  Text(writer, "service", handle.service);
  Text(writer, "country", handle.country);
  Text(writer, "handle_id_phone", handle.address);
  writer.EndObject();
}

std::string_view WithoutLastComma(const std::string& display_phone) {
  std::string_view text(display_phone);
  if (!text.empty() && text.back() == ',') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string KorSmsConversationJson(const KorSmsConversation& conversation) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Text(writer, "id", std::to_string(conversation.rowid));
  Text(writer, "chat_id", conversation.chat_id);
  Text(writer, "snippet", conversation.snippet ? std::string_view(*conversation.snippet) : std::string_view());
  Text(writer, "display_phone", WithoutLastComma(conversation.display_phone));
  Number(writer, "is_group", conversation.is_group);
  Number(writer, "date", conversation.last_date);
  Text(writer, "date_str", conversation.last_date_str);
  writer.Key("handles");
  writer.StartArray();
  for (const auto& handle : conversation.handles) WriteHandle(writer, *handle);
  writer.EndArray();
  Number(writer, "message_count", static_cast<int64_t>(conversation.messages.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string KorSmsMessageJson(const KorSmsMessage& message) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Number(writer, "id", message.id);
  Text(writer, "chat_id", message.chat_id);
  Text(writer, "text", message.text);
  Number(writer, "date", message.date);
  Text(writer, "date_str", message.date_str);
  Number(writer, "date_read", message.date_read);
  Text(writer, "date_read_str", message.date_read_str);
  Number(writer, "is_from_me", message.is_from_me);
  Number(writer, "is_read", message.is_read);
  Number(writer, "is_sent", message.is_sent);
  Number(writer, "error", message.error);
  Number(writer, "handle_id", message.handle_id);
  Text(writer, "handle_id_phone", message.handle_address);
  Text(writer, "subject", message.subject);
  Text(writer, "account_guid", message.account_guid);
  Text(writer, "account", message.account);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}
