// tandrelctl apps / install / uninstall / archive / erase / wipe-free-space: the application
// and erase commands, with a progress bar while they run.
#include <rapidjson/document.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "ctl_commands.h"
#include "ctl_device.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

// A started Tandrel with the device the arguments name.
struct DeviceRun {
  std::unique_ptr<Session> session;
  ChosenDevice device;
};

std::optional<DeviceRun> StartOnDevice(const GlobalOptions& options, const ArgList& list, int* exit_code) {
  DeviceRun run;
  run.session = StartSession(options);
  if (!run.session) {
    *exit_code = kExitLink;
    return std::nullopt;
  }
  auto device = WaitForDevice(*run.session, list.Get("--device"), options.timeout);
  if (!device) {
    *exit_code = kExitFailed;
    return std::nullopt;
  }
  run.device = *device;
  return run;
}

int RunCollected(DeviceRun& run, const GlobalOptions& options, uint32_t command, const std::string& extra_json,
                 const std::string& parameters_json, std::vector<frontend::Message>* messages) {
  std::string attachment = parameters_json.empty() ? std::string() : frontend::CompressAttachment(parameters_json);
  int code = RunCommand(*run.session, options, command, NewTaskId(), DeviceJson(run.device, extra_json), attachment,
                        1, messages);
  if (!messages->empty() && messages->back().status != 1) {
    std::cerr << "tandrelctl: command " << command << " failed with code " << messages->back().code;
    rapidjson::Document info;
    std::string error;
    if (messages->back().info && VelJsonUtil::Parse(*messages->back().info, &info) &&
        VelJsonUtil::GetString(info, "error", &error) && !error.empty()) {
      std::cerr << " (" << error << ")";
    }
    std::cerr << "\n";
  }
  return code;
}

std::string JsonStringArray(const std::vector<std::string>& items) {
  rapidjson::Document array(rapidjson::kArrayType);
  for (const std::string& item : items) {
    array.PushBack(rapidjson::Value(item.c_str(), array.GetAllocator()), array.GetAllocator());
  }
  return VelJsonUtil::ToString(array);
}

std::string Member(const rapidjson::Value& object, const char* key) {
  auto member = object.FindMember(key);
  if (member == object.MemberEnd()) return "";
  return member->value.IsString() ? member->value.GetString() : VelJsonUtil::ToString(member->value);
}

// A bundle identifier as a file name: only when it cannot name another folder.
bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name.find_first_not_of('.') == std::string::npos) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

// Prints the device's answers of an install, uninstall or archive: errors on stderr.
int ReportInstallerRun(const std::vector<frontend::Message>& messages, int code) {
  for (const frontend::Message& message : messages) {
    rapidjson::Document info;
    if (message.status != 2 || !message.info || !VelJsonUtil::Parse(*message.info, &info) || !info.IsObject()) continue;
    if (message.stage == 1) std::cout << "placing " << Member(info, "path") << " as " << Member(info, "bundle_id") << "\n";
    if (message.stage == 3) {
      std::cerr << Member(info, "bundle_id") << ": the device answered: " << Member(info, "error") << "\n";
      code = kExitFailed;
    }
  }
  return code;
}

int RunOnIds(const GlobalOptions& options, const std::vector<std::string>& args, uint32_t command, const char* verb) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.empty()) {
    std::cerr << "usage: tandrelctl " << verb << " ID... [--device UDID]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto run = StartOnDevice(options, list, &code);
  if (!run) return code;
  std::vector<frontend::Message> messages;
  code = RunCollected(*run, options, command, "", JsonStringArray(list.positional), &messages);
  code = ReportInstallerRun(messages, code);
  if (code == kExitOk) std::cout << verb << ": done\n";
  return code;
}

}  // namespace

int AppsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  int code = kExitOk;
  auto run = StartOnDevice(options, list, &code);
  if (!run) return code;
  std::vector<frontend::Message> messages;
  code = RunCollected(*run, options, 501, "", "", &messages);
  std::vector<std::string> ids;
  for (const frontend::Message& message : messages) {
    rapidjson::Document batch;
    if (message.status != 2 || message.stage != 2 || !VelJsonUtil::Parse(message.attachment, &batch) ||
        !batch.IsObject()) {
      continue;
    }
    for (auto& app : batch.GetObject()) {
      ids.push_back(app.name.GetString());
      std::cout << app.name.GetString() << "\t" << Member(app.value, "CFBundleDisplayName") << "\t"
                << Member(app.value, "CFBundleShortVersionString") << "\tapp " << Member(app.value, "app-size")
                << "\tdata " << Member(app.value, "data-size") << "\n";
    }
  }
  std::cout << ids.size() << " applications\n";
  if (code != kExitOk || !list.Has("--icons")) return code;
  std::string folder = list.Get("--icons");
  if (!kst::CreateDirectories(folder)) {
    std::cerr << "tandrelctl: cannot create " << folder << "\n";
    return kExitUsage;
  }
  messages.clear();
  code = RunCollected(*run, options, 502, "", JsonStringArray(ids), &messages);
  int saved = 0;
  for (const frontend::Message& message : messages) {
    rapidjson::Document info;
    std::string id;
    if (message.status != 2 || !message.info || !VelJsonUtil::Parse(*message.info, &info) ||
        !VelJsonUtil::GetString(info, "bundle_id", &id) || !IsSafeFileName(id)) {
      continue;
    }
    if (kst::WriteWholeFile(folder + "/" + id + ".png", message.attachment)) ++saved;
  }
  std::cout << saved << " icons saved in " << folder << "\n";
  return code;
}

int InstallCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.empty()) {
    std::cerr << "usage: tandrelctl install FILE.ipa... [--device UDID]\n";
    return kExitUsage;
  }
  std::vector<std::string> paths;
  for (const std::string& path : list.positional) {
    std::error_code error;
    paths.push_back(std::filesystem::absolute(path, error).string());
  }
  int code = kExitOk;
  auto run = StartOnDevice(options, list, &code);
  if (!run) return code;
  std::vector<frontend::Message> messages;
  code = RunCollected(*run, options, 504, "", JsonStringArray(paths), &messages);
  return ReportInstallerRun(messages, code);
}

int UninstallCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return RunOnIds(options, args, 505, "uninstall");
}

int ArchiveCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return RunOnIds(options, args, 506, "archive");
}

int EraseCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (!list.positional.empty() || !list.Has("--backup") || !list.Has("--source")) {
    std::cerr << "usage: tandrelctl erase --backup FOLDER --source UDID [--password P] [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "path", list.Get("--backup"));
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "sourceDeviceId", list.Get("--source"));
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "password", list.Get("--password"));
  int code = kExitOk;
  auto run = StartOnDevice(options, list, &code);
  if (!run) return code;
  std::vector<frontend::Message> messages;
  code = RunCollected(*run, options, 1700, "", VelJsonUtil::ToString(parameters), &messages);
  if (code == kExitOk) std::cout << "erase: content erased and the backup restored\n";
  return code;
}

int WipeFreeSpaceCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl wipe-free-space [--level N] [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictInt64Value(parameters, parameters.GetAllocator(), "level",
                                     std::strtoll(list.Get("--level", "1").c_str(), nullptr, 10));
  int code = kExitOk;
  auto run = StartOnDevice(options, list, &code);
  if (!run) return code;
  std::vector<frontend::Message> messages;
  code = RunCollected(*run, options, 1701, "", VelJsonUtil::ToString(parameters), &messages);
  if (code == kExitOk) std::cout << "wipe-free-space: free space overwritten\n";
  return code;
}

}  // namespace ctl
