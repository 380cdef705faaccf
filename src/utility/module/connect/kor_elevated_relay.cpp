#include "utility/module/connect/kor_elevated_relay.h"

#include <rapidjson/document.h>

#include <filesystem>
#include <mutex>
#include <thread>

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

// Whether an elevated instance was started and has not ended; guarded by g_start_mutex.
std::mutex g_start_mutex;
bool g_started = false;

// The program that gives the elevated instance administrator rights: TANDREL_ELEVATE_WITH when set,
// else none when already root, else pkexec.
std::string ElevationProgram() {
  std::string program = kst::GetEnv("TANDREL_ELEVATE_WITH");
  if (!program.empty()) return program;
  return kst::RunningAsRoot() ? std::string() : std::string("pkexec");
}

// Commands that waited for an elevated instance which ended without connecting (the person
// declined the administrator prompt, or it failed) are answered with 53 instead of waiting forever.
void AnswerPendingWithStartFailure() {
  for (auto& packet : KorClient::Instance().TakePending()) {
    KLOG(ERROR) << "the elevated instance ended before connecting; command " << packet->command << " gets "
                << kKorConnectElevatedStartFailed;
    KorMessage message;
    message.code = kKorConnectElevatedStartFailed;
    KorPacketHeader header{packet->task_id, KorStatusForCode(message.code), packet->command};
    if (packet->connection) KorClient::Instance().SendOn(packet->connection, header, message);
    if (auto task = QrTaskSchedular::Get().FindTask(KorTaskIdText(packet.get()))) {
      QrTask::NotifySchedular(task, kQrTaskStatusFinished);
    }
  }
}

void WatchElevatedInstance(int64_t pid) {
  std::thread([pid] {
    kst::WaitProcess(pid, -1);
    {
      std::lock_guard<std::mutex> lock(g_start_mutex);
      g_started = false;
    }
    KLOG(WARNING) << "the elevated instance (process " << pid << ") ended";
    if (KorClient::Instance().ElevatedInstanceAbsent()) AnswerPendingWithStartFailure();
  }).detach();
}

bool StartElevatedInstance(const std::string& parameters) {
  kst::SpawnOptions options;
  std::string program = ElevationProgram();
  if (program.empty()) {
    program = kst::ExecutablePath();
    options.arguments = {parameters};
  } else {
    options.arguments = {kst::ExecutablePath(), parameters};
  }
  int error = 0;
  int64_t pid = kst::SpawnProcess(program, options, &error);
  if (pid < 0) {
    KLOG(ERROR) << "cannot start the elevated instance through " << program << ": " << error;
    return false;
  }
  WatchElevatedInstance(pid);
  return true;
}

int StartAndQueue(const kst::IPCPacket* packet) {
  KorClient& client = KorClient::Instance();
  std::string secret = KorNewSecret();
  int port = secret.empty() ? -1 : client.StartElevatedChannel(secret);
  if (port < 0) return kKorConnectNoElevatedChannel;
  std::string secret_file = SecretFilePath();
  // Queued first: the instance may connect before the spawn call returns.
  client.QueueForElevated(packet);
  if (!WriteSecretFile(secret_file, secret) ||
      !StartElevatedInstance(KorElevatedStartParameters(port, packet->task_id, secret_file))) {
    client.TakePending();
    return kKorConnectElevatedStartFailed;
  }
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
    // One instance at a time: commands wait in the queue for the one already started.
    std::lock_guard<std::mutex> lock(g_start_mutex);
    if (client.ElevatedInstanceAbsent()) {
      if (g_started) {
        client.QueueForElevated(packet);
        return -1;
      }
      int code = StartAndQueue(packet);
      g_started = code == -1;
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
  if (json.HasMember("info")) info = VelJsonUtil::ToString(json["info"]);
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
