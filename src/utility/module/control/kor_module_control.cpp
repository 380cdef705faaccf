#include "utility/module/control/kor_module_control.h"

#include "platform/kst_log.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"

int KorModuleControl::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document document;
  if (!ParseCommandJson(payload, &document)) {
    KLOG(WARNING) << "stop command: JSON does not parse";
    return SendResult(packet, "", kKorBadJson);
  }
  const rapidjson::Value* info = VelJsonUtil::GetObject(document, "info");
  std::string task_id;
  if (!info || !VelJsonUtil::GetString(*info, "task_id", &task_id)) {
    KLOG(WARNING) << "stop command: no info.task_id text";
    return SendResult(packet, "", kKorBadJson);
  }
  if (packet->command != kKorCommandStopTask) return 0;
  auto stopped = QrTaskSchedular::Get().FindTask(task_id);
  QrTaskSchedular::Get().StopTask(task_id);
  KLOG(INFO) << "stop task: " << task_id;
  // A command that is between its packets (a staged transfer) would otherwise never answer.
  if (stopped) PostStoppedReply(stopped);
  return SendResult(packet, "", kKorOk);
}
