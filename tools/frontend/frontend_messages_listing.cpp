#include "frontend_messages_listing.h"

#include "platform/vel_json_util.h"

namespace frontend {

namespace {

bool ParseAttachment(const Message& message, rapidjson::Document* out) {
  return message.attachment_inflated && VelJsonUtil::Parse(message.attachment, out);
}

}  // namespace

bool AssembleMessagesListing(const std::vector<Message>& messages, rapidjson::Document* listing,
                             std::string* error) {
  listing->SetObject();
  auto& allocator = listing->GetAllocator();
  rapidjson::Value chats(rapidjson::kArrayType);
  bool counted = false;
  for (const Message& message : messages) {
    if (message.status != 2) continue;
    if (message.stage == 1) {
      counted = true;
      continue;
    }
    rapidjson::Document part;
    if (!counted || !ParseAttachment(message, &part)) {
      *error = "stage " + std::to_string(message.stage) + " message out of order or unreadable";
      return false;
    }
    if (message.stage == 2 && part.IsObject()) {
      rapidjson::Value chat(part, allocator);
      chat.AddMember("messages", rapidjson::Value(rapidjson::kArrayType), allocator);
      chats.PushBack(chat, allocator);
    } else if (message.stage == 3 && part.IsArray() && !chats.Empty()) {
      rapidjson::Value& list = chats[chats.Size() - 1]["messages"];
      for (auto& item : part.GetArray()) list.PushBack(rapidjson::Value(item, allocator), allocator);
    } else {
      *error = "unexpected stage " + std::to_string(message.stage);
      return false;
    }
  }
  listing->AddMember("chats", chats, allocator);
  if (!counted) *error = "no count message";
  return counted;
}

std::optional<std::string> FindSmsDbPath(const std::vector<Message>& messages) {
  std::optional<std::string> path;
  for (const Message& message : messages) {
    rapidjson::Document info;
    std::string found;
    if (message.status == 2 && message.info && VelJsonUtil::Parse(*message.info, &info) && info.IsObject() &&
        VelJsonUtil::GetString(info, "sms_db_path", &found)) {
      path = found;
    }
  }
  return path;
}

}  // namespace frontend
