#include "utility/module/sms/kor_module_sms.h"

#include "platform/kst_log.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_listing.h"
#include "utility/module/itunes/kor_backup_extract_notice.h"
#include "utility/module/sms/kor_sms_json.h"

namespace {

constexpr int32_t kStageCount = 1;
constexpr int32_t kStageConversation = 2;
constexpr int32_t kStageMessages = 3;

}  // namespace

int KorModuleSms::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  if (!ParseCommandJson(payload, &json)) return SendResult(packet, "", kKorBadJson);
  if (payload.format != 1 || packet->command != kKorCommandReadMessages) {
    std::string uuid;
    VelJsonUtil::GetString(json, "uuid", &uuid);
    return SendResult(packet, uuid, kKorOk);
  }
  return ReadMessages(packet, json);
}

int KorModuleSms::ReadMessages(kst::IPCPacket* packet, const rapidjson::Document& json) {
  if (IsStopped(packet)) return kKorStopped;
  std::shared_ptr<KorDevice> device = FindCommandDevice(json, false);
  std::string uuid = device ? device->UniqueDeviceId() : std::string();
  std::string path;
  if (const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info")) {
    VelJsonUtil::GetString(*info, "sms_db_path", &path);
  }
  KorSmsConversationList conversations;
  int rc = KorSmsReadDatabase(path, &conversations);
  if (rc != kKorOk) KLOG(ERROR) << "QuerySmsDb2 ended with " << rc << " for " << path;
  if (StreamConversations(packet, uuid, conversations) == kKorStopped) {
    if (auto task = FindCommandTask(packet)) QrTask::NotifySchedular(task, kQrTaskStatusStopped);
    return kKorStopped;
  }
  return SendResult(packet, uuid, kKorOk);
}

int KorModuleSms::StreamConversations(const kst::IPCPacket* packet, const std::string& uuid,
                                      const KorSmsConversationList& conversations) {
  KorListing listing(packet, uuid);
  listing.SetInfo(KorCountInfo(static_cast<int64_t>(conversations.size())));
  if (int rc = listing.SendStage(kStageCount)) return rc;
  for (const auto& conversation : conversations) {
    if (int rc = listing.SendAttachment(kStageConversation, KorSmsConversationJson(*conversation))) return rc;
    KorRecordBatcher batch(&listing, kStageMessages, kKorSmsBatchSize);
    for (const auto& message : conversation->messages) {
      int rc = batch.AddWritten([&message](std::string* text) { KorSmsAppendMessageJson(*message, text); });
      if (rc != kKorOk) return rc;
    }
    if (int rc = batch.Flush()) return rc;
  }
  return kKorOk;
}

const KorBackupExtractEvent* KorSmsDatabaseEvent(void* record, const char* event_name) {
  return KorExtractEventFor(record, event_name, kKorSmsBackupName);
}

void KorModuleSms::Update(void* record, const char* event_name) {
  if (const KorBackupExtractEvent* event = KorSmsDatabaseEvent(record, event_name)) {
    KorForwardExtractedPath(*event, "sms_db_path");
  }
}
