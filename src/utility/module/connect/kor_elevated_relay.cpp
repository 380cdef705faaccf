#include "utility/module/connect/kor_elevated_relay.h"

#include <rapidjson/document.h>

#include <filesystem>
#include <mutex>

#include "Tandrel/kor_process.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/kor_command.h"
#include "utility/kor_secret.h"
#include "utility/module/connect/kor_connection_tokens.h"

namespace {

// The relayed message: "1", 0x00, {"stage","code","uuid","type","info"}, 0x00.
std::string RelayText(int stage, int32_t token, int type, const std::string& info) {
  std::string json = "{\"stage\":" + std::to_string(stage) + ",\"code\":" + std::to_string(token) +
                     ",\"uuid\":\"\",\"type\":" + std::to_string(type) + ",\"info\":" +
                     (info.empty() ? std::string("\"\"") : info) + "}";
  std::string text = "1";
  text += '\0';
  text += json;
  text += '\0';
  return text;
}

std::string SecretFilePath() { return KorProcess::Get().WorkFolder() + "elevated.key"; }

// Only this process's user (and root) may read the secret.
bool WriteSecretFile(const std::string& path, const std::string& secret) {
  if (!kst::WriteWholeFile(path, secret)) return false;
  std::error_code error;
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::replace, error);
  return !error;
}

bool StartElevatedInstance(const std::string& parameters) {
  kst::SpawnOptions options;
  std::string program = kst::ExecutablePath();
  if (kst::RunningAsRoot()) {
    options.arguments = {parameters};
  } else {
    options.arguments = {program, parameters};
    program = "pkexec";
  }
  int error = 0;
  int64_t pid = kst::SpawnProcess(program, options, &error);
  if (pid < 0) KLOG(ERROR) << "cannot start the elevated instance through " << program << ": " << error;
  return pid > 0;
}

int StartAndQueue(const kst::IPCPacket* packet) {
  KorClient& client = KorClient::Instance();
  std::string secret = KorNewSecret();
  int port = secret.empty() ? -1 : client.StartElevatedChannel(secret);
  if (port < 0) return kKorConnectNoElevatedChannel;
  std::string secret_file = SecretFilePath();
  if (!WriteSecretFile(secret_file, secret) ||
      !StartElevatedInstance(KorElevatedStartParameters(port, packet->task_id, secret_file))) {
    return kKorConnectElevatedStartFailed;
  }
  client.QueueForElevated(packet);
  return -1;
}

}  // namespace

std::string KorElevatedStartParameters(int port, uint64_t task_id, const std::string& secret_file) {
  const KorStartParams& own = KorProcess::Get().StartParams();
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, kKorServerStartParamPid, kst::CurrentProcessId());
  VelJsonUtil::AddJsonDictIntValue(json, allocator, kKorServerStartParamShowConsole, 0);
  VelJsonUtil::AddJsonDictIntValue(json, allocator, kKorServerStartParamPort, port);
  VelJsonUtil::AddJsonDictIntValue(json, allocator, kKorServerStartParamTestSelf, 0);
  VelJsonUtil::AddJsonDictIntValue(json, allocator, kKorServerStartParamOpenLog, 1);
  VelJsonUtil::AddJsonDictIntValue(json, allocator, kKorServerStartParamType, kKorStartTypeElevated);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, kKorServerStartParamTaskId, std::to_string(task_id));
  VelJsonUtil::AddJsonDictStringValue(json, allocator, kKorServerStartParamVersion, own.version);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, kKorServerStartParamBrand, own.brand);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, kKorServerStartParamProduct, own.product);
  json.AddMember(rapidjson::StringRef(kKorServerStartParamLoadModules), rapidjson::Value(rapidjson::kArrayType),
                 allocator);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, kKorServerStartParamSecretFile, secret_file);
  return VelJsonUtil::ToString(json);
}

int KorRelayToElevated(const kst::IPCPacket* packet) {
  KorClient& client = KorClient::Instance();
  if (client.ElevatedInstanceAbsent()) {
    // Started once: later commands wait in the queue for the same instance.
    static std::mutex start_mutex;
    std::lock_guard<std::mutex> lock(start_mutex);
    static bool started = false;
    if (client.ElevatedInstanceAbsent()) {
      if (started) {
        client.QueueForElevated(packet);
        return -1;
      }
      int code = StartAndQueue(packet);
      started = code == -1;
      return code;
    }
  }
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  if (!VelJsonUtil::Parse(payload.json, payload.json_length, &json) || !json.IsObject()) {
    KLOG(ERROR) << "relayed command does not parse: " << std::string(payload.json ? payload.json : "", payload.json_length);
    return kKorConnectRelayBadJson;
  }
  int stage = 0;
  int type = 0;
  VelJsonUtil::GetInt(json, "stage", &stage);
  VelJsonUtil::GetInt(json, "type", &type);
  std::string info;
  auto member = json.FindMember("info");
  if (member != json.MemberEnd()) info = VelJsonUtil::ToString(member->value);
  int32_t token = KorConnectionTokens::Get().TokenFor(packet->connection);
  KorPacketHeader header{packet->task_id, packet->status, packet->command};
  if (!client.SendToElevated(header, RelayText(stage, token, type, info))) client.QueueForElevated(packet);
  return -1;
}

void KorPassElevatedReply(const kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  int64_t token = 0;
  if (!VelJsonUtil::Parse(payload.json, payload.json_length, &json) || !json.IsObject() ||
      !VelJsonUtil::GetInt64(json, "code", &token)) {
    KLOG(ERROR) << "message from the elevated instance without a connection token dropped";
    return;
  }
  KLOG(INFO) << "commandType: " << packet->command << " :" << packet->status << " :" << token;
  kst::IPCConnection* connection = KorConnectionTokens::Get().Find(token);
  if (!connection || !KorClient::Instance().PassToFrontend(*packet, connection)) {
    KLOG(WARNING) << "the front-end connection of token " << token << " is gone";
  }
  if (packet->status == kKorStatusDone || packet->status == kKorStatusStopped || packet->status == kKorStatusFailed) {
    if (auto task = QrTaskSchedular::Get().FindTask(KorTaskIdText(packet))) {
      QrTask::NotifySchedular(task, kQrTaskStatusFinished);
    }
  }
}
