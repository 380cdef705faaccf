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

// Why opening a device failed, in the words a user needs to act on it.
std::string OpenFailureReason(const std::string& code) {
  if (code == "24") return "no connection could be made to the device";
  if (code == "25") return "not paired yet: the device asks its user to trust this computer, then it is tried again";
  if (code == "26") return "the pairing record does not validate; unplug the device and trust this computer again";
  if (code == "27") return "the device refused a session";
  if (code == "48") return "the device is locked with a passcode; unlock it";
  if (code == "49") return "no session could be had with the device";
  return std::string();
}

// The device number is the low 32 bits of a handle: a person reads it unsigned.
std::string DeviceNumber(int64_t code) { return "#" + std::to_string(static_cast<uint32_t>(code)); }

}  // namespace

std::string DescribeDeviceEvent(const frontend::Message& message) {
  std::string handle = DeviceNumber(message.code);
  switch (message.command) {
    case 9:
      return "device monitoring started: error_code " + InfoText(message, "error_code");
    case 11:
      return "arrived    " + handle;
    case 1:
      return "ready      " + handle + " " + message.uuid + " " + InfoText(message, "Type") + " " +
             InfoText(message, "Model") + " iOS " + InfoText(message, "FirmVersion") + " free " +
             InfoText(message, "Data_FreeSize") + " of " + InfoText(message, "Data_PhysicalSize") + " bytes";
    case 12: {
      // Identifier and name are empty while the device is not paired: leave them out then.
      std::string name = InfoText(message, "device_name");
      std::string code = InfoText(message, "error_code");
      std::string reason = OpenFailureReason(code);
      return "error      " + handle + (message.uuid.empty() ? std::string() : " " + message.uuid) +
             (name.empty() ? std::string() : " \"" + name + "\"") + " code " + code +
             (reason.empty() ? std::string() : ": " + reason);
    }
    case 8:
      return "departed   " + handle + (message.uuid.empty() ? std::string() : " " + message.uuid);
    default:
      return "message    command " + std::to_string(message.command);
  }
}

int DevicesCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--json", "--until-ready"});
  int wanted = std::atoi(list.Get("--count", "0").c_str());
  bool json = list.Has("--json");
  bool until_ready = list.Has("--until-ready");
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
    if (until_ready && message->command == 1) break;
  }
  return kExitOk;
}

}  // namespace ctl
