// tandrelctl backup / restore / backups / encryption / extract: the backup module's commands,
// with a progress bar on a terminal and JSON lines otherwise.
#include <rapidjson/document.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include "ctl_commands.h"
#include "ctl_device.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

constexpr int64_t kBackupProgressStage = 1;
constexpr int64_t kProgressScale = 10000;
constexpr int64_t kDeviceLocked = 208;
// A device may think for minutes before its first backup message (or wait for its passcode).
constexpr std::chrono::milliseconds kTransferSilence{15 * 60 * 1000};

std::string ParametersJson(const rapidjson::Document& parameters) { return VelJsonUtil::ToString(parameters); }

// True for the backup module's progress messages (stage 1, hundredths of a percent in "code").
bool IsTransferProgress(const frontend::Message& message) {
  return message.status == 2 && message.stage == kBackupProgressStage && !message.info &&
         (message.command == 1600 || message.command == 1601 || message.command == 1608);
}

// Sends one command and follows it to its final reply; returns that reply.
std::optional<frontend::Message> FollowCommand(Session& session, const GlobalOptions& options, uint32_t command,
                                               const std::string& json, const std::string& attachment) {
  const uint64_t task = NewTaskId();
  if (!session.link.Send(command, task, json, attachment, 1)) {
    std::cerr << "tandrelctl: the link to Tandrel is gone\n";
    return std::nullopt;
  }
  const bool terminal = ::isatty(STDOUT_FILENO) != 0;
  const bool transfer = command == 1600 || command == 1601 || command == 1608;
  const auto silence = transfer ? std::max(options.timeout, kTransferSilence) : options.timeout;
  for (;;) {
    std::optional<frontend::Message> message = session.link.NextFor(task, silence);
    if (!message) {
      EndProgress();
      std::cerr << "tandrelctl: no answer from Tandrel within the time-out\n";
      return std::nullopt;
    }
    if (terminal && IsTransferProgress(*message)) {
      DrawProgressBar(static_cast<double>(message->code) / kProgressScale);
      continue;
    }
    EndProgress();
    PrintMessage(*message, options);
    if (frontend::IsFinalStatus(message->status)) return message;
  }
}

// Starts Tandrel, waits for the device and runs one command on it.
int RunBackupCommand(const GlobalOptions& options, const ArgList& list, uint32_t command,
                     const std::string& extra_json, const std::string& attachment,
                     std::optional<frontend::Message>* final_reply) {
  auto session = StartSession(options);
  if (!session) return kExitLink;
  auto device = WaitForDevice(*session, list.Get("--device"), options.timeout);
  if (!device) return kExitFailed;
  *final_reply = FollowCommand(*session, options, command, DeviceJson(*device, extra_json), attachment);
  if (!*final_reply) return kExitLink;
  if ((*final_reply)->status != 1) {
    std::cerr << "tandrelctl: command " << command << " ended with code " << (*final_reply)->code << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl backup [--to ROOT] [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(parameters, parameters.GetAllocator(), "path", list.Get("--to"));
  std::optional<frontend::Message> reply;
  int exit_code =
      RunBackupCommand(options, list, 1600, "", frontend::CompressAttachment(ParametersJson(parameters)), &reply);
  if (reply && reply->code == kDeviceLocked) {
    std::cerr << "tandrelctl: the device is locked. Unlock it and enter its passcode on the device when it asks, "
                 "then run the backup again.\n";
  }
  return exit_code;
}

int RestoreCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1 || !list.Has("--source")) {
    std::cerr << "usage: tandrelctl restore FOLDER --source UDID [--password P] [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "path", list.positional[0]);
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "sourceDeviceId", list.Get("--source"));
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "password", list.Get("--password"));
  std::optional<frontend::Message> reply;
  return RunBackupCommand(options, list, 1601, "", frontend::CompressAttachment(ParametersJson(parameters)), &reply);
}

int BackupsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  rapidjson::Value paths(rapidjson::kArrayType);
  if (list.positional.empty()) VelJsonUtil::PushJsonArrayStringValue(paths, allocator, "");
  for (const std::string& root : list.positional) VelJsonUtil::PushJsonArrayStringValue(paths, allocator, root);
  VelJsonUtil::AddJsonDictObjectValue(parameters, allocator, "paths", paths);
  std::optional<frontend::Message> reply;
  return RunBackupCommand(options, list, 1602, "", frontend::CompressAttachment(ParametersJson(parameters)), &reply);
}

int EncryptionCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  std::optional<frontend::Message> reply;
  if (list.Has("--set")) {
    rapidjson::Document parameters(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictStringValue(parameters, parameters.GetAllocator(), "password", list.Get("--set"));
    RunBackupCommand(options, list, 1605, "", frontend::CompressAttachment(ParametersJson(parameters)), &reply);
  } else {
    RunBackupCommand(options, list, 1604, "", "", &reply);
  }
  if (!reply) return kExitLink;
  std::cerr << "backup encryption is " << (reply->code == 0 ? "on" : "off") << "\n";
  return reply->code == 0 ? kExitOk : kExitFailed;
}

int ExtractCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  const std::vector<std::pair<std::string, int>> kinds = {{"messages", 0}, {"contacts", 1}, {"notes", 2}};
  std::string types;
  for (const std::string& word : list.positional) {
    for (const auto& [name, type] : kinds) {
      if (word == name) types += (types.empty() ? "" : ",") + std::to_string(type);
    }
  }
  if (list.positional.empty() || types.empty()) {
    std::cerr << "usage: tandrelctl extract messages|contacts|notes... [--device UDID]\n";
    return kExitUsage;
  }
  std::optional<frontend::Message> reply;
  return RunBackupCommand(options, list, 1608, "\"info\":{\"types\":[" + types + "]}", "", &reply);
}

}  // namespace ctl
