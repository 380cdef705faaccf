// tandrelctl devices: prints device events until interrupted or until --count events arrived.
#include <rapidjson/document.h>

#include <csignal>
#include <iostream>

#include "ctl_commands.h"

namespace ctl {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

bool IsDeviceEvent(uint32_t command) { return command == 1 || command == 8 || command == 11 || command == 12; }

std::string InfoText(const frontend::Message& message, const char* key) {
  if (!message.info) return std::string();
  rapidjson::Document info;
  if (info.Parse(message.info->c_str()).HasParseError() || !info.IsObject()) return std::string();
  auto member = info.FindMember(key);
  if (member == info.MemberEnd()) return std::string();
  if (member->value.IsString()) return member->value.GetString();
  if (member->value.IsInt64()) return std::to_string(member->value.GetInt64());
  return std::string();
}

}  // namespace

std::string DescribeDeviceEvent(const frontend::Message& message) {
  std::string handle = "#" + std::to_string(message.code);
  switch (message.command) {
    case 9:
      return "device monitoring started: error_code " + InfoText(message, "error_code");
    case 11:
      return "arrived    " + handle;
    case 1:
      return "ready      " + handle + " " + message.uuid + " " + InfoText(message, "Type") + " " +
             InfoText(message, "Model") + " iOS " + InfoText(message, "FirmVersion") + " free " +
             InfoText(message, "Data_FreeSize") + " of " + InfoText(message, "Data_PhysicalSize") + " bytes";
    case 12:
      return "error      " + handle + " " + message.uuid + " \"" + InfoText(message, "device_name") + "\" code " +
             InfoText(message, "error_code");
    case 8:
      return "departed   " + handle + (message.uuid.empty() ? std::string() : " " + message.uuid);
    default:
      return "message    command " + std::to_string(message.command);
  }
}

int DevicesCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--json"});
  int wanted = std::atoi(list.Get("--count", "0").c_str());
  bool json = list.Has("--json");
  auto session = StartSession(options, true);
  if (!session) return kExitLink;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  int seen = 0;
  while (!g_interrupted && (wanted == 0 || seen < wanted)) {
    auto message = session->link.Next(std::chrono::milliseconds(200));
    if (!message) {
      if (session->link.Lost()) return kExitLink;
      continue;
    }
    if (!IsDeviceEvent(message->command) && message->command != 9) continue;
    if (json) {
      PrintMessage(*message, options);
    } else {
      std::cout << DescribeDeviceEvent(*message) << std::endl;
    }
    if (IsDeviceEvent(message->command)) ++seen;
  }
  return kExitOk;
}

}  // namespace ctl
