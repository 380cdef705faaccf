// tandrelctl info / storage / rename / export: the device commands that answer in one go.
#include <rapidjson/document.h>

#include <cstdio>
#include <iostream>

#include "ctl_commands.h"
#include "ctl_device.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

std::string HumanSize(int64_t bytes) {
  const char* units[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
  return text;
}

std::string ValueText(const rapidjson::Value& value) {
  if (value.IsString()) return value.GetString();
  return VelJsonUtil::ToString(value);
}

// The JSON attachments of a command's intermediate messages merged into one object.
rapidjson::Document MergedReplies(const std::vector<frontend::Message>& messages) {
  rapidjson::Document merged(rapidjson::kObjectType);
  for (const frontend::Message& message : messages) {
    rapidjson::Document part;
    if (message.status != 2 || !VelJsonUtil::Parse(message.attachment, &part) || !part.IsObject()) continue;
    for (auto& member : part.GetObject()) {
      rapidjson::Value key(member.name, merged.GetAllocator());
      rapidjson::Value value(member.value, merged.GetAllocator());
      merged.AddMember(key, value, merged.GetAllocator());
    }
  }
  return merged;
}

// Runs command 300 on the device the arguments name; both replies merged, or nothing.
std::optional<rapidjson::Document> BasicInformation(const GlobalOptions& options, ArgList* list, int* code) {
  if (!list->positional.empty()) list->named.emplace_back("--device", list->positional[0]);
  auto messages = RunOnDevice(options, *list, 300, "", "", code);
  if (!messages) return std::nullopt;
  return MergedReplies(*messages);
}

}  // namespace

std::optional<std::vector<frontend::Message>> RunOnDevice(const GlobalOptions& options, const ArgList& list,
                                                          uint32_t command, const std::string& extra_json,
                                                          const std::string& attachment, int* exit_code) {
  auto session = StartSession(options);
  if (!session) {
    *exit_code = kExitLink;
    return std::nullopt;
  }
  auto device = WaitForDevice(*session, list.Get("--device"), options.timeout);
  if (!device) {
    *exit_code = kExitFailed;
    return std::nullopt;
  }
  std::vector<frontend::Message> messages;
  *exit_code = RunCommand(*session, options, command, NewTaskId(), DeviceJson(*device, extra_json), attachment, 1,
                          &messages);
  if (!messages.empty() && frontend::IsFinalStatus(messages.back().status) && messages.back().status != 1) {
    std::cerr << "tandrelctl: command " << command << " failed with code " << messages.back().code << "\n";
  }
  return messages;
}

int InfoCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--json"});
  int code = kExitOk;
  auto information = BasicInformation(options, &list, &code);
  if (!information) return code;
  rapidjson::Document& merged = *information;
  if (list.Has("--json")) {
    std::cout << VelJsonUtil::ToPrettyString(merged) << std::endl;
    return code;
  }
  for (const auto& member : merged.GetObject()) {
    std::cout << member.name.GetString() << ": " << ValueText(member.value) << "\n";
  }
  return code;
}

int StorageCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--json"});
  int code = kExitOk;
  auto information = BasicInformation(options, &list, &code);
  if (!information) return code;
  rapidjson::Document& merged = *information;
  if (!merged.HasMember("Data_PhysicalSize")) {
    std::cerr << "tandrelctl: the device sent no storage figures\n";
    return kExitFailed;
  }
  std::printf("%-24s %12s %8s\n", "category", "size", "count");
  for (const auto& member : merged.GetObject()) {
    std::string name = member.name.GetString();
    const std::string suffix = "_PhysicalSize";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    std::string category = name.substr(0, name.size() - suffix.size());
    if (category == "Data") category = "total";
    if (category == "Data_Others") category = "other";
    std::string count_key = category + "_Count";
    std::string count = merged.HasMember(count_key.c_str()) ? ValueText(merged[count_key.c_str()]) : "";
    std::printf("%-24s %12s %8s\n", category.c_str(), HumanSize(member.value.GetInt64()).c_str(), count.c_str());
  }
  std::printf("%-24s %12s\n", "free", HumanSize(merged["Data_FreeSize"].GetInt64()).c_str());
  if (merged.HasMember("CycleCount")) std::printf("battery cycles: %s\n", ValueText(merged["CycleCount"]).c_str());
  return code;
}

int RenameCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1) {
    std::cerr << "usage: tandrelctl rename NAME [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(parameters, parameters.GetAllocator(), "name", list.positional[0]);
  int code = kExitOk;
  auto messages =
      RunOnDevice(options, list, 303, "", frontend::CompressAttachment(VelJsonUtil::ToString(parameters)), &code);
  if (messages && code == kExitOk) std::cout << "renamed to \"" << list.positional[0] << "\"\n";
  return code;
}

int ExportCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.empty() || !list.Has("--to")) {
    std::cerr << "usage: tandrelctl export DEVICE_PATH... --to DIR [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "folder", list.Get("--to"));
  rapidjson::Value items(rapidjson::kArrayType);
  for (const std::string& path : list.positional) {
    rapidjson::Value item(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictStringValue(item, allocator, "path", path);
    VelJsonUtil::AddJsonDictStringValue(item, allocator, "name", path.substr(path.find_last_of('/') + 1));
    items.PushBack(item, allocator);
  }
  VelJsonUtil::AddJsonDictObjectValue(parameters, allocator, "items", items);
  int code = kExitOk;
  auto messages =
      RunOnDevice(options, list, 701, "", frontend::CompressAttachment(VelJsonUtil::ToString(parameters)), &code);
  if (!messages) return code;
  for (const frontend::Message& message : *messages) {
    rapidjson::Document info;
    if (message.status == 2 && message.info && VelJsonUtil::Parse(*message.info, &info) && info.IsObject()) {
      std::string path;
      VelJsonUtil::GetString(info, "native_path", &path);
      std::cout << "exported " << path << "\n";
    }
  }
  return code;
}

}  // namespace ctl
