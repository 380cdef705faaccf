// tandrelctl music / playlist: the music library (1000) and one playlist's items (1010).
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "ctl_commands.h"
#include "ctl_listing.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

struct ItemGroup {
  uint32_t number;
  const char* name;
};

constexpr ItemGroup kItemGroups[] = {
    {1004, "songs"}, {1005, "movies"}, {1007, "music videos"}, {1006, "TV shows"}};

void PrintItems(const std::vector<frontend::Message>& messages, const ItemGroup& group) {
  auto items = BatchObjects(messages, group.number);
  std::printf("%s (%zu):\n", group.name, items.size());
  for (const rapidjson::Document& item : items) {
    std::printf("  %20s  %9s  %-30s  %-20s  %s\n", MemberText(item, "item_pid").c_str(), MemberText(item, "total_time_ms").c_str(),
                MemberText(item, "title").c_str(), MemberText(item, "artist").c_str(), MemberText(item, "path").c_str());
  }
}

// The 1010 messages: a count per playlist, then its item pids.
void PrintPlaylistItems(const std::vector<frontend::Message>& messages) {
  for (const frontend::Message& message : messages) {
    if (message.status != 2 || message.command != 1010) continue;
    rapidjson::Document json;
    if (message.stage == 1 && message.info && VelJsonUtil::Parse(*message.info, &json)) {
      std::printf("playlist %s: %s items\n", MemberText(json, "Playlist").c_str(), MemberText(json, "Count").c_str());
    } else if (message.stage == 2 && VelJsonUtil::Parse(message.attachment, &json)) {
      std::printf("  %s\n", MemberText(json, "item_pids").c_str());
    }
  }
}

}  // namespace

int MusicCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl music [--device UDID]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunOnDevice(options, list, 1000, "\"info\":{}", "", &code);
  if (!messages || FailedFinal(*messages)) return code == kExitOk ? kExitFailed : code;
  for (const ItemGroup& group : kItemGroups) PrintItems(*messages, group);
  auto playlists = BatchObjects(*messages, 1009);
  std::printf("playlists (%zu):\n", playlists.size());
  for (const rapidjson::Document& playlist : playlists) {
    std::printf("  %20s  %-30s  parent %s%s\n", MemberText(playlist, "container_pid").c_str(),
                MemberText(playlist, "name").c_str(), MemberText(playlist, "parent_pid").c_str(),
                MemberText(playlist, "smart_is_folder") == "1" ? "  (folder)" : "");
  }
  PrintPlaylistItems(*messages);
  return code;
}

int PlaylistCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--refresh"});
  if (list.positional.size() != 1) {
    std::cerr << "usage: tandrelctl playlist PID [--refresh] [--device UDID]\n";
    return kExitUsage;
  }
  std::string info = "\"info\":{\"refresh\":" + std::string(list.Has("--refresh") ? "1" : "0") +
                     ",\"container_pid\":" + std::to_string(std::strtoll(list.positional[0].c_str(), nullptr, 10)) +
                     "}";
  int code = kExitOk;
  auto messages = RunOnDevice(options, list, 1010, info, "", &code);
  if (!messages || FailedFinal(*messages)) return code == kExitOk ? kExitFailed : code;
  PrintPlaylistItems(*messages);
  return code;
}

}  // namespace ctl
