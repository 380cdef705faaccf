#include "utility/kor_module.h"

#include <cstdlib>
#include <utility>

#include "platform/kst_log.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/kor_task_meta_data.h"

namespace {

thread_local std::shared_ptr<QrTask> current_command_task;

// True for the first caller only: the one whose final reply goes out.
bool ClaimFirstFinalReply(const std::shared_ptr<QrTask>& task) {
  auto meta = task ? task->GetTaskDataAs<TaskMetaData>() : nullptr;
  return !meta || !meta->final_reply_sent.exchange(true);
}

// The command is over: its kept state goes (an upload's file is put in place) and the scheduler
// forgets its ID, both before the reply leaves, so that the front-end may reuse the ID at once.
void EndTask(const std::shared_ptr<QrTask>& task, int code) {
  if (!task) return;
  task->SetTaskState(nullptr);
  QrTask::NotifySchedular(task, code == kKorStopped ? kQrTaskStatusStopped : kQrTaskStatusFinished);
}

}  // namespace

KorCommandTaskScope::KorCommandTaskScope(std::shared_ptr<QrTask> task)
    : previous_(std::exchange(current_command_task, std::move(task))) {}

KorCommandTaskScope::~KorCommandTaskScope() { current_command_task = std::move(previous_); }

int KorModule::OnCommand(kst::IPCPacket*) { return 0; }

bool KorModule::ClaimFinalReply(const std::shared_ptr<QrTask>& task, int code) {
  if (!ClaimFirstFinalReply(task)) return false;
  EndTask(task, code);
  return true;
}

int KorModule::OnElevatedPacket(kst::IPCPacket*) { return 0; }

int KorModule::SendResult(kst::IPCPacket* packet, const std::string& uuid, int code,
                          const std::optional<std::string>& info) {
  return SendFinalReply(packet, uuid, code, info);
}

int KorModule::SendFinalReply(const kst::IPCPacket* packet, const std::string& uuid, int code,
                              const std::optional<std::string>& info) {
  auto task = CommandTask(packet);
  if (!ClaimFinalReply(task, code)) {
    KLOG(WARNING) << "task " << KorTaskIdText(packet) << " of command " << packet->command
                  << " already had its final reply; code " << code << " not sent";
    return kKorOk;
  }
  KorPacketHeader header{packet->task_id, KorStatusForCode(code), packet->command};
  KorMessage message;
  message.code = code;
  message.uuid = uuid;
  message.info = info;
  return KorClient::Instance().Send(header, message);
}

int KorModule::ReplyBeforeClosing(const kst::IPCPacket* packet, const std::string& uuid, int result) {
  if (result == kKorOk) SendFinalReply(packet, uuid, kKorOk);
  return result;
}

void KorModule::PostStoppedReply(const std::shared_ptr<QrTask>& task) {
  QrTaskSchedular::Get().PostTaskRun(task, [](std::shared_ptr<QrTask> self) {
    auto meta = self->GetTaskDataAs<TaskMetaData>();
    // Only a command that keeps state between its packets is waiting for one; a command that ran
    // answers (or, where its module says so, stays silent) on its own.
    if (!meta || !self->GetTaskState() || !ClaimFirstFinalReply(self)) return;
    std::string id = self->GetTaskId();
    KLOG(INFO) << "task " << id << " of command " << meta->command << " stopped between its packets";
    EndTask(self, kKorStopped);
    KorMessage message;
    message.code = kKorStopped;
    KorClient::Instance().Send(KorPacketHeader{std::strtoull(id.c_str(), nullptr, 10), kKorStatusStopped, meta->command},
                               message);
  });
}

std::shared_ptr<QrTask> KorModule::FindCommandTask(const kst::IPCPacket* packet) {
  return QrTaskSchedular::Get().FindTask(KorTaskIdText(packet));
}

std::shared_ptr<QrTask> KorModule::CommandTask(const kst::IPCPacket* packet) {
  std::string id = KorTaskIdText(packet);
  if (current_command_task && current_command_task->GetTaskId() == id) return current_command_task;
  return QrTaskSchedular::Get().FindTask(id);
}

bool KorModule::FinalReplySent(const kst::IPCPacket* packet) {
  auto task = CommandTask(packet);
  auto meta = task ? task->GetTaskDataAs<TaskMetaData>() : nullptr;
  return meta && meta->final_reply_sent.load();
}

void KorModule::FinishSilently(const kst::IPCPacket* packet) {
  auto task = CommandTask(packet);
  if (ClaimFirstFinalReply(task)) EndTask(task, kKorOk);
}

bool KorModule::IsStopped(const kst::IPCPacket* packet) {
  auto task = FindCommandTask(packet);
  return !task || task->GetStatus() == kQrTaskStatusStopped;
}

int KorModule::SendIntermediate(const kst::IPCPacket* packet, KorMessage message) {
  return SendIntermediateAs(packet, packet->command, std::move(message));
}

int KorModule::SendIntermediateAs(const kst::IPCPacket* packet, uint32_t header_command, KorMessage message) {
  if (FinalReplySent(packet)) {
    KLOG(WARNING) << "stage-" << message.stage << " message of task " << KorTaskIdText(packet)
                  << " after its final reply dropped";
    return kKorMessageNotSent;
  }
  KorPacketHeader header{packet->task_id, kKorStatusIntermediate, header_command};
  int rc = KorClient::Instance().Send(header, message);
  if (rc == 0) return kKorOk;
  KLOG(ERROR) << "stage-" << message.stage << " message of command " << packet->command << " task "
              << KorTaskIdText(packet) << " could not be "
              << (rc == KorClient::kSendTextTooLong ? "built" : "sent") << "; the command ends with code "
              << kKorMessageNotSent;
  SendFinalReply(packet, message.uuid, kKorMessageNotSent);
  return kKorMessageNotSent;
}

bool KorModule::ParseCommandJson(const KorCommandPayload& payload, rapidjson::Document* document) {
  return VelJsonUtil::Parse(payload.json, payload.json_length, document) && document->IsObject();
}

bool KorModule::ParseCommandParameters(const KorCommandPayload& payload, rapidjson::Document* document) {
  std::string text;
  return KorInflateAttachment(payload, &text) && VelJsonUtil::Parse(text, document) && document->IsObject();
}

std::shared_ptr<KorDevice> KorModule::FindCommandDevice(const rapidjson::Value& json, bool also_by_code) {
  std::string uuid;
  VelJsonUtil::GetString(json, "uuid", &uuid);
  int64_t code = INT64_MIN;  // matches no device
  if (!also_by_code || !VelJsonUtil::GetInt64(json, "code", &code)) code = INT64_MIN;
  return KorDeviceMonitor::Get().FindDevice(uuid, code);
}

int KorModule::FinishStopped(kst::IPCPacket* packet, const std::string& uuid) {
  SendResult(packet, uuid, kKorStopped);
  return kKorStopped;
}

bool KorModule::BeginDeviceCommand(kst::IPCPacket* packet, const KorCommandPayload& payload, DeviceCommand* command,
                                   int* result) {
  if (!ParseCommandJson(payload, &command->json)) {
    *result = SendResult(packet, "", kKorBadJson);
    return false;
  }
  VelJsonUtil::GetString(command->json, "uuid", &command->uuid);
  command->device = FindCommandDevice(command->json, false);
  if (!command->device) {
    *result = SendResult(packet, command->uuid, kKorNoDevice);
    return false;
  }
  if (IsStopped(packet)) {
    *result = FinishStopped(packet, command->uuid);
    return false;
  }
  return true;
}

int KorModule::RunDeviceCommand(kst::IPCPacket* packet, const DeviceCommandHandler& handler) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  DeviceCommand command;
  int early_reply = 0;
  if (!BeginDeviceCommand(packet, payload, &command, &early_reply)) return early_reply;
  if (payload.format != 1) return SendResult(packet, command.uuid, kKorOk);
  const int result = handler(payload, command);
  if (result == kKorReplyLater || FinalReplySent(packet)) return result == kKorReplyLater ? kKorOk : result;
  if (result == kKorStopped) return FinishStopped(packet, command.uuid);
  return SendResult(packet, command.uuid, result);
}
