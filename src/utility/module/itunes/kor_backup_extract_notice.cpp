#include "utility/module/itunes/kor_backup_extract_notice.h"

#include <cstring>

#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_module.h"
#include "utility/kor_task_meta_data.h"
#include "utility/kst_subject.h"

const KorBackupExtractEvent* KorExtractEventFor(void* record, const char* event_name, const char* database) {
  if (!record || !event_name || std::strcmp(event_name, kKorItunesBackupExtractFile) != 0) return nullptr;
  const auto* event = static_cast<const KorBackupExtractEvent*>(record);
  if (event->name != database || !event->packet) return nullptr;
  return event;
}

void KorForwardExtractedPath(const KorBackupExtractEvent& event, const char* key) {
  if (auto task = QrTaskSchedular::Get().FindTask(KorTaskIdText(event.packet))) {
    if (auto meta = task->GetTaskDataAs<TaskMetaData>()) meta->text = event.local_path;
  }
  rapidjson::Document info(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), key, event.local_path);
  KorMessage message;
  message.stage = 2;
  message.uuid = event.device ? event.device->UniqueDeviceId() : std::string();
  message.info = VelJsonUtil::ToString(info);
  KorModule::SendIntermediate(event.packet, message);
}
