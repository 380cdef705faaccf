// tandrelctl messages: the conversations and messages of a device, from a local copy of its
// messages database (--db) or from one freshly taken out of a backup (1608, then 201).
#include <rapidjson/document.h>

#include <iostream>

#include "ctl_commands.h"
#include "ctl_device.h"
#include "frontend_messages_listing.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

constexpr uint32_t kCommandExtract = 1608;
constexpr uint32_t kCommandReadMessages = 201;

std::string ReadMessagesJson(const std::string& udid, int64_t code, const std::string& path) {
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "uuid", udid);
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, "code", code);
  rapidjson::Value info(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(info, allocator, "sms_db_path", path);
  VelJsonUtil::AddJsonDictObjectValue(json, allocator, "info", info);
  return VelJsonUtil::ToString(json);
}

// Runs 1608 {"types":[0]} and answers the path that the messages module reported.
std::optional<std::string> ExtractMessagesDatabase(Session& session, const GlobalOptions& options,
                                                   const ChosenDevice& device) {
  std::vector<frontend::Message> messages;
  int rc = RunCommand(session, options, kCommandExtract, NewTaskId(),
                      DeviceJson(device, "\"info\":{\"types\":[0]}"), "", 1, &messages);
  std::optional<std::string> path = frontend::FindSmsDbPath(messages);
  if (rc != kExitOk || !path) {
    int64_t code = messages.empty() ? -1 : messages.back().code;
    std::cerr << "tandrelctl: the backup extraction did not produce the messages database (code " << code << ")\n";
    return std::nullopt;
  }
  return path;
}

void PrintListing(const rapidjson::Value& chats) {
  for (const auto& chat : chats.GetArray()) {
    std::cout << "== " << chat["chat_id"].GetString() << "  [" << chat["display_phone"].GetString() << "]  "
              << chat["message_count"].GetInt64() << " messages, last " << chat["date_str"].GetString()
              << (chat["is_group"].GetInt() ? ", group" : "") << "\n";
    for (const auto& message : chat["messages"].GetArray()) {
      std::cout << "  " << message["date_str"].GetString() << "  "
                << (message["is_from_me"].GetInt() ? std::string("me") : message["handle_id_phone"].GetString())
                << ": " << message["text"].GetString() << "\n";
    }
  }
}

}  // namespace

int MessagesCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--json"});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl messages [--db PATH] [--device UDID] [--json]\n";
    return kExitUsage;
  }
  auto session = StartSession(options);
  if (!session) return kExitLink;
  ChosenDevice device;
  std::string path = list.Get("--db");
  if (path.empty() || list.Has("--device")) {
    auto ready = WaitForDevice(*session, list.Get("--device"), options.timeout);
    if (!ready) return kExitFailed;
    device = *ready;
  }
  if (path.empty()) {
    auto extracted = ExtractMessagesDatabase(*session, options, device);
    if (!extracted) return kExitFailed;
    path = *extracted;
  }
  std::vector<frontend::Message> messages;
  int rc = RunCommand(*session, options, kCommandReadMessages, NewTaskId(),
                      ReadMessagesJson(device.udid, device.code, path), "", 1, &messages);
  if (rc != kExitOk) return rc;
  rapidjson::Document listing;
  std::string error;
  if (!frontend::AssembleMessagesListing(messages, &listing, &error)) {
    std::cerr << "tandrelctl: " << error << "\n";
    return kExitFailed;
  }
  if (listing["chats"].Empty()) {
    std::cerr << "tandrelctl: no conversations in " << path
              << " (a file that is missing, not a database or of an unknown schema lists none; Tandrel's log "
                 "says which)\n";
  }
  if (list.Has("--json")) {
    std::cout << VelJsonUtil::ToPrettyString(listing) << std::endl;
  } else {
    PrintListing(listing["chats"]);
  }
  return kExitOk;
}

}  // namespace ctl
