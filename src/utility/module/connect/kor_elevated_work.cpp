#include "utility/module/connect/kor_elevated_work.h"

#include <rapidjson/document.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/console_redirector.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/kor_command.h"

namespace {

// Runs a command line and keeps everything it prints.
class OutputCollector : public CRedirector {
 public:
  std::string Run(const std::string& command_line) {
    if (!Open(command_line)) return std::string();
    WaitForReader();
    Close();
    return output_;
  }

 protected:
  void Output(const std::string& text) override { output_ += text; }
  void Error(const std::string& text) override { output_ += text; }

 private:
  std::string output_;
};

struct ElevatedCommand {
  int32_t token = 0;
  rapidjson::Document json;
};

bool ParseElevatedCommand(const kst::IPCPacket* packet, ElevatedCommand* command) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  if (!VelJsonUtil::Parse(payload.json, payload.json_length, &command->json) || !command->json.IsObject()) return false;
  KLOG(INFO) << std::string(payload.json, payload.json_length);
  VelJsonUtil::GetInt(command->json, "code", &command->token);
  return true;
}

void SendMessage(const kst::IPCPacket* packet, int32_t token, uint16_t status, const std::string& info) {
  KorMessage message;
  message.stage = 2;
  message.code = token;
  message.info = info;
  KorClient::Instance().Send(KorPacketHeader{packet->task_id, status, packet->command}, message);
}

std::string ErrorInfo(int code) { return "{\"error\":" + std::to_string(code) + "}"; }

std::vector<std::string> PackagePaths(const rapidjson::Value& json) {
  std::vector<std::string> paths;
  auto info = json.FindMember("info");
  if (info == json.MemberEnd() || !info->value.IsArray()) return paths;
  for (const auto& item : info->value.GetArray()) {
    if (item.IsString()) paths.emplace_back(item.GetString(), item.GetStringLength());
  }
  return paths;
}

bool HasQuote(const std::string& text) { return text.find('"') != std::string::npos; }

}  // namespace

int KorInstallDrivers(const kst::IPCPacket* packet) {
  ElevatedCommand command;
  if (!ParseElevatedCommand(packet, &command)) return kKorBadParameters;
  std::vector<std::string> paths = PackagePaths(command.json);
  int code = paths.empty() ? kKorConnectInstallFailed : kKorOk;
  for (size_t i = 0; i < paths.size() && code == kKorOk; ++i) {
    // A quote inside a path would end the quoted argument early and change the command line.
    if (HasQuote(paths[i])) {
      code = kKorConnectInstallFailed;
      break;
    }
    std::string line = "msiexec /package \"" + paths[i] + "\" /passive /norestart /qn /l* \"" + paths[i] + ".log\"";
    std::string output = OutputCollector().Run(line);
    KLOG(INFO) << paths[i] << ": " << output;
    if (output.find("error") != std::string::npos) {
      code = kKorConnectInstallFailed;
      break;
    }
    SendMessage(packet, command.token, kKorStatusIntermediate,
                "{\"index\":" + std::to_string(i) + ",\"count\":" + std::to_string(paths.size()) + "}");
  }
  KLOG(INFO) << "FailedBlacklist Before: " << code;
  if (code == kKorOk && !KorDeviceServiceRunning()) code = kKorConnectInstallFailed;
  KLOG(INFO) << "FailedBlacklist After: " << code;
  SendMessage(packet, command.token, code == kKorOk ? kKorStatusDone : kKorStatusFailed, ErrorInfo(code));
  KLOG(INFO) << "Install Driver: " << code;
  return code;
}

int KorCheckStoreITunes(const kst::IPCPacket* packet) {
  ElevatedCommand command;
  if (!ParseElevatedCommand(packet, &command)) return kKorBadParameters;
  std::istringstream output(OutputCollector().Run("wmic path Win32_InstalledStoreProgram get name"));
  int code = kKorConnectNoStoreITunes;
  for (std::string line; std::getline(output, line);) {
    if (line.find("AppleInc.iTunes") != std::string::npos) code = kKorOk;
  }
  SendMessage(packet, command.token, kKorStatusDone, ErrorInfo(code));
  return code;
}
