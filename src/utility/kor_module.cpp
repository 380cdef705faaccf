#include "utility/kor_module.h"

#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/ios/kor_device_monitor.h"

int KorModule::OnCommand(kst::IPCPacket*) { return 0; }

int KorModule::OnElevatedPacket(kst::IPCPacket*) { return 0; }

int KorModule::SendResult(kst::IPCPacket* packet, const std::string& uuid, int code,
                          const std::optional<std::string>& info) {
  KorPacketHeader header{packet->task_id, KorStatusForCode(code), packet->command};
  KorMessage message;
  message.code = code;
  message.uuid = uuid;
  message.info = info;
  int rc = KorClient::Instance().Send(header, message);
  if (auto task = FindCommandTask(packet)) {
    QrTask::NotifySchedular(task, code == kKorStopped ? kQrTaskStatusStopped : kQrTaskStatusFinished);
  }
  return rc;
}

std::shared_ptr<QrTask> KorModule::FindCommandTask(const kst::IPCPacket* packet) {
  return QrTaskSchedular::Get().FindTask(KorTaskIdText(packet));
}

bool KorModule::IsStopped(const kst::IPCPacket* packet) {
  auto task = FindCommandTask(packet);
  return !task || task->GetStatus() == kQrTaskStatusStopped;
}

int KorModule::SendIntermediate(const kst::IPCPacket* packet, KorMessage message) {
  KorPacketHeader header{packet->task_id, kKorStatusIntermediate, packet->command};
  return KorClient::Instance().Send(header, message);
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
  if (auto task = FindCommandTask(packet)) QrTask::NotifySchedular(task, kQrTaskStatusStopped);
  SendResult(packet, uuid, kKorStopped);
  return kKorStopped;
}
