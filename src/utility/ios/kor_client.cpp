#include "utility/ios/kor_client.h"

#include <cstdlib>
#include <thread>

#include "Tandrel/kor_process.h"
#include "platform/auto_release.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"
#include "platform/kst_utility_app.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/kor_command.h"
#include "utility/kor_module.h"
#include "utility/kor_module_registry.h"
#include "utility/kor_task_meta_data.h"
#include "utility/kor_utility.h"
#include "utility/kor_secret.h"

std::chrono::milliseconds KorHeartbeatInterval() {
  std::string text = kst::GetEnv("TANDREL_HEARTBEAT_MS");
  long value = text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
  return value > 0 ? std::chrono::milliseconds(value) : kst::IPCChannel::kDefaultHeartbeatInterval;
}

std::chrono::milliseconds KorSendTimeout() {
  constexpr std::chrono::milliseconds kDefault{30000};
  std::string text = kst::GetEnv("TANDREL_SEND_TIMEOUT_MS");
  long value = text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
  return value > 0 ? std::chrono::milliseconds(value) : kDefault;
}

KorClient& KorClient::Instance() {
  // Never destroyed: channel threads may run until the process ends.
  static KorClient* client = new KorClient();
  return *client;
}

KorClient::KorClient()
    : client_channel_(std::make_unique<kst::IPCPacketChannel>(KorHeartbeatInterval())),
      outbox_(std::make_unique<KorOutbox>(
          [this](const KorPacketHeader& header, KorMessage message) { return Send(header, std::move(message)); })) {
  client_channel_->SetSendTimeout(KorSendTimeout());
}

void KorClient::Post(const KorPacketHeader& header, const KorMessage& message) { outbox_->Post(header, message); }

bool KorClient::ConnectFrontend(int port, int attempts, std::chrono::milliseconds retry_delay) {
  client_channel_->SetReceiveCallback([this](kst::IPCPacket* packet) { return OnClientPacket(packet); });
  if (port == 0) return false;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(retry_delay);
    if (client_channel_->Connect(port)) {
      KLOG(INFO) << "connected to the front-end on port " << port;
      return true;
    }
  }
  KLOG(ERROR) << "no connection to the front-end on port " << port << " after " << attempts << " attempts";
  return false;
}

int KorClient::WriteMessage(kst::IPCConnection* connection, const KorPacketHeader& header, const std::string& text,
                            const KorMessage& message) {
  kst::IPCOutPacket out;
  out.task_id = header.task_id;
  out.status = header.status;
  out.command = header.command;
  out.data = text.data();
  out.text_length = static_cast<uint16_t>(text.size());
  out.attachment_length = static_cast<uint32_t>(message.attachment ? message.attachment_length : 0);
  out.connection = connection;
  return client_channel_->SendPacketWithAttachment(out, message.attachment) ? 0 : kSendNoConnection;
}

namespace {

bool PrepareMessage(const KorPacketHeader& header, KorMessage* message, std::string* text,
                    std::vector<uint8_t>* storage) {
  *text = KorMessageText(*message);
  if (text->empty()) {
    KLOG(ERROR) << "message of command " << header.command << " task " << header.task_id
                << " refused: its text exceeds " << kKorMaxMessageText << " bytes";
    return false;
  }
  if (message->attachment_length > UINT32_MAX) {
    KLOG(ERROR) << "message of command " << header.command << " refused: attachment of "
                << message->attachment_length << " bytes";
    return false;
  }
  KorPrepareAttachment(message, storage);
  return true;
}

}  // namespace

int KorClient::Send(const KorPacketHeader& header, KorMessage message) {
  std::string text;
  std::vector<uint8_t> compressed;
  if (!PrepareMessage(header, &message, &text, &compressed)) return kSendTextTooLong;
  // Text, compression and the connection list are ready before the lock: it covers the writes.
  std::vector<kst::IPCConnection*> connections = client_channel_->Connections();
  bool any = false;
  std::lock_guard<std::mutex> lock(send_mutex_);
  for (kst::IPCConnection* connection : connections) {
    if (connection->role != kst::kIPCRoleOutgoing) continue;
    if (WriteMessage(connection, header, text, message) == 0) any = true;
  }
  return any ? 0 : kSendNoConnection;
}

int KorClient::SendOn(kst::IPCConnection* connection, const KorPacketHeader& header, KorMessage message) {
  std::string text;
  std::vector<uint8_t> compressed;
  if (!PrepareMessage(header, &message, &text, &compressed)) return kSendTextTooLong;
  std::lock_guard<std::mutex> lock(send_mutex_);
  return WriteMessage(connection, header, text, message);
}

int KorClient::OnClientPacket(kst::IPCPacket* packet) {
  if (KorProcess::Get().Quitting()) {
    kst::IPCPacketFree(packet);
    return 0;
  }
  CreateCommandTask(packet, &KorModule::OnCommand);
  return 0;
}

void KorClient::CreateCommandTask(kst::IPCPacket* packet, RunOperation operation) {
  AutoRelease::LocalPool pool;
  std::string id = KorTaskIdText(packet);
  auto& schedular = QrTaskSchedular::Get();
  auto bind = [packet, operation](std::shared_ptr<QrTask> task) { RunCommandTask(packet, operation, task); };
  if (auto task = schedular.FindTask(id)) {
    task->ResetFunc();
    task->SetTaskFunc(bind);
    schedular.PostTask(task);
    return;
  }
  if (schedular.IsAbortTask(id)) {
    KLOG(INFO) << "packet for stopped task " << id << " dropped";
    kst::IPCPacketFree(packet);
    return;
  }
  auto package = std::make_shared<QrTaskPackage>();
  package->SetTaskId(KSTUtilityApp::GetTagTaskId("package"));
  auto task = std::make_shared<QrTask>();
  task->SetTaskId(packet->task_id);
  task->SetTaskFunc(bind);
  auto meta = std::make_shared<TaskMetaData>();
  meta->command = packet->command;
  meta->socket = packet->connection ? packet->connection->native : kst::kInvalidSocket;
  task->SetTaskData(meta);
  package->AddTask(task);
  package->SetTaskFunc([](std::shared_ptr<QrTask> self) { DoPackageFinish(self); });
  auto event = std::make_shared<QrTaskEvent>();
  event->SetTaskId(KSTUtilityApp::GetTagTaskId("event"));
  event->AddPackage(package);
  event->SetTaskFunc([](std::shared_ptr<QrTask> self) { DoEventFinish(self); });
  schedular.PostTaskEvent(event);
}

void KorClient::RunCommandTask(kst::IPCPacket* packet, RunOperation operation, const std::shared_ptr<QrTask>& task) {
  AutoRelease::LocalPool pool;
  AutoRelease scope;
  kst::IPCPacketPtr owned(packet);
  KorModule* module = KorModuleRegistry::Get().Find(packet->command);
  if (module) {
    KorCommandTaskScope scope(task);
    (module->*operation)(packet);
    return;
  }
  // Nothing handles this number (the lost-connection packet among them): no reply, task done.
  QrTask::NotifySchedular(task, kQrTaskStatusFinished);
}

int KorClient::StartElevatedChannel(const std::string& secret) {
  std::lock_guard<std::mutex> lock(send_mutex_);
  elevated_secret_ = secret;  // a later instance gets a secret of its own
  if (elevated_channel_) return elevated_port_;
  elevated_channel_ = std::make_unique<kst::IPCPacketChannel>(KorHeartbeatInterval());
  elevated_channel_->SetSendTimeout(KorSendTimeout());
  elevated_channel_->SetReceiveCallback([this](kst::IPCPacket* packet) { return OnElevatedPacket(packet); });
  elevated_port_ = kst::IPCChannel::ProbePort();
  if (elevated_port_ < 0 || !elevated_channel_->Listen(elevated_port_)) {
    KLOG(ERROR) << "cannot listen for the elevated instance";
    elevated_port_ = -1;
    return -1;
  }
  KLOG(INFO) << "elevated link listens on 127.0.0.1:" << elevated_port_;
  return elevated_port_;
}

bool KorClient::ElevatedInstanceAbsent() {
  std::lock_guard<std::mutex> lock(send_mutex_);
  return !elevated_channel_ || !elevated_channel_->ListenRecord() || authenticated_.empty();
}

void KorClient::QueueForElevated(const kst::IPCPacket* packet) {
  std::lock_guard<std::mutex> lock(send_mutex_);
  pending_.emplace_back(kst::IPCPacketCopy(packet));
}

bool KorClient::SendToElevated(const KorPacketHeader& header, const std::string& text) {
  std::lock_guard<std::mutex> lock(send_mutex_);
  if (!elevated_channel_ || text.size() > kKorMaxMessageText) return false;
  bool sent = false;
  for (kst::IPCConnection* connection : authenticated_) {
    kst::IPCOutPacket out;
    out.task_id = header.task_id;
    out.status = header.status;
    out.command = header.command;
    out.data = text.data();
    out.text_length = static_cast<uint16_t>(text.size());
    out.connection = connection;
    sent = elevated_channel_->SendPacketWithAttachment(out, nullptr) || sent;
  }
  return sent;
}

bool KorClient::PassToFrontend(const kst::IPCPacket& packet, kst::IPCConnection* connection) {
  std::lock_guard<std::mutex> lock(send_mutex_);
  for (kst::IPCConnection* known : client_channel_->Connections()) {
    if (known == connection) return client_channel_->SendRawPacket(packet, connection);
  }
  return false;
}

int KorClient::SendElevatedHello(const std::string& secret) {
  KorMessage message;
  message.uuid = secret;
  return Send(KorPacketHeader{0, kKorStatusIntermediate, kElevatedHelloCommand}, message);
}

bool KorClient::Authenticate(kst::IPCPacket* packet) {
  if (packet->command != kElevatedHelloCommand) return false;
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  std::string presented;
  if (!VelJsonUtil::Parse(payload.json, payload.json_length, &json) || !json.IsObject() ||
      !VelJsonUtil::GetString(json, "uuid", &presented)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(send_mutex_);
  if (elevated_secret_.empty() || !KorSecretsEqual(presented, elevated_secret_)) return false;
  authenticated_.insert(packet->connection);
  return true;
}

int KorClient::OnElevatedPacket(kst::IPCPacket* packet) {
  kst::IPCPacketPtr owned(packet);
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(send_mutex_);
    known = authenticated_.count(packet->connection) > 0;
    if (known && packet->command == 0) authenticated_.erase(packet->connection);
  }
  if (packet->command == 0) return 0;  // a lost connection
  if (known) {
    CreateCommandTask(owned.release(), &KorModule::OnElevatedPacket);
    return 0;
  }
  if (Authenticate(packet)) {
    KLOG(INFO) << "the elevated instance connected";
    RunPending();
    return 0;
  }
  KLOG(ERROR) << "elevated link: a connection without the secret was closed";
  packet->connection->socket.Shutdown();
  return 0;
}

std::deque<kst::IPCPacketPtr> KorClient::TakePending() {
  std::deque<kst::IPCPacketPtr> queued;
  std::lock_guard<std::mutex> lock(send_mutex_);
  queued.swap(pending_);
  return queued;
}

void KorClient::RunPending() {
  std::deque<kst::IPCPacketPtr> queued = TakePending();
  for (auto& packet : queued) CreateCommandTask(packet.release(), &KorModule::OnCommand);
}

void KorClient::Shutdown() {
  // The channel first: closing it ends any send the outbox's thread is blocked in.
  client_channel_->Close();
  outbox_->Stop();
  if (elevated_channel_) elevated_channel_->Close();
}

std::string KorClient::DeviceConnectedInfo(const KorDeviceInfo& info, int64_t pid, int32_t start_type) {
  rapidjson::Document document(rapidjson::kObjectType);
  auto& allocator = document.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "Model", info.model);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "FirmVersion", info.product_version);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "Type", info.device_class);
  VelJsonUtil::AddJsonDictInt64Value(document, allocator, "Data_FreeSize", info.fs_free_bytes);
  VelJsonUtil::AddJsonDictInt64Value(document, allocator, "Data_PhysicalSize", info.fs_total_bytes);
  VelJsonUtil::AddJsonDictInt64Value(document, allocator, "Pid", pid);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "StartType", start_type);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "SerialNumber", info.serial_number);
  return VelJsonUtil::ToString(document);
}

void KorClient::OnDeviceEvent(const std::shared_ptr<KorDevice>& device, uint32_t event) {
  KorDeviceInfo info = device->Info();
  int32_t start_type = KorProcess::Get().StartParams().type;
  KorMessage message;
  message.code = static_cast<int32_t>(device->HandleCode());
  message.uuid = info.unique_device_id;
  if (event == kKorDeviceEventReady) {
    message.info = DeviceConnectedInfo(info, kst::CurrentProcessId(), start_type);
    Post(KorPacketHeader{0, kKorStatusIntermediate, 1}, message);
    KLOG(INFO) << "Connected: " << info.unique_device_id;
  } else if (event == kKorDeviceEventGone) {
    rapidjson::Document gone(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictInt64Value(gone, gone.GetAllocator(), "PID", kst::CurrentProcessId());
    message.stage = start_type;
    message.info = VelJsonUtil::ToString(gone);
    Post(KorPacketHeader{0, kKorStatusIntermediate, 8}, message);
    KLOG(INFO) << "Disconnected: " << info.unique_device_id;
  }
}
