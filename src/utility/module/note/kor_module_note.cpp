#include "utility/module/note/kor_module_note.h"

#include <cstring>

#include "basic/plugin_util.h"
#include "iOSAPI/kor_sync_time.h"
#include "platform/kst_log.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_listing.h"
#include "utility/kor_sync_command.h"
#include "utility/kor_task_meta_data.h"
#include "utility/module/itunes/kor_backup_extract_notice.h"
#include "utility/module/itunes/kor_backup_wanted.h"
#include "utility/module/note/kor_note_collection.h"
#include "utility/module/note/kor_note_write.h"

namespace {

constexpr int32_t kStageCount = 1;
constexpr int32_t kStageNotes = 2;

// The front-end's text members of the parameters; false when one is missing.
bool GetTexts(const rapidjson::Value& parameters, std::initializer_list<std::pair<const char*, std::string*>> texts) {
  for (const auto& [key, out] : texts) {
    if (!VelJsonUtil::GetString(parameters, key, out)) return false;
  }
  return true;
}

}  // namespace

int KorModuleNote::OnCommand(kst::IPCPacket* packet) {
  return RunDeviceCommand(packet, [this, packet](const KorCommandPayload& payload, const DeviceCommand& command) -> int {
    switch (packet->command) {
      case kKorCommandNoteList:
        return ListNotes(packet, command);
      case kKorCommandNoteAdd:
        return AddNote(packet, command, payload);
      case kKorCommandNoteFromBackup:
        return ForwardToPlugin(packet, command);
      default:
        return kKorOk;
    }
  });
}

int KorModuleNote::ListNotes(kst::IPCPacket* packet, const DeviceCommand& command) {
  KorNoteCollection notes;
  std::shared_ptr<KorDeviceService> service;  // closed after the final reply
  if (int rc = KorRunDeviceSync(command.device, kKorSyncNotes, kKorSyncNotesReadAll, &notes, nullptr, &service)) {
    return rc;
  }
  if (IsStopped(packet)) return kKorStopped;
  KorListing listing(packet, command.uuid);
  listing.SetInfo(KorCountInfo(KorSyncListingCount(command.device, notes.Notes().size(), "Notes")));
  if (int rc = listing.SendStage(kStageCount)) return rc;
  KorRecordBatcher batch(&listing, kStageNotes, kKorNoteBatchSize);
  for (const KorNote& note : notes.Notes()) {
    if (int rc = batch.Add(KorNoteJson(note))) return rc;
  }
  return ReplyBeforeClosing(packet, command.uuid, batch.Flush());
}

int KorModuleNote::AddNote(kst::IPCPacket* packet, const DeviceCommand& command, const KorCommandPayload& payload) {
  rapidjson::Document parameters;
  KorNote note;
  std::string host_id;
  if (!ParseCommandParameters(payload, &parameters) ||
      !GetTexts(parameters, {{"id", &host_id}, {"title", &note.subject}, {"content", &note.content}})) {
    return kKorBadParameters;
  }
  const std::string now = KorUtcNowText();
  KorNoteCollection reply;
  reply.SetLookupKey(host_id);
  const KorSyncPushSource push = KorSyncPushOnce(KorNewNoteElements(host_id, note.subject, note.content, now));
  if (int rc = KorRunDeviceSync(command.device, kKorSyncNotes, kKorSyncNotesWrite, &reply, push)) return rc;
  if (reply.FoundId().empty()) return kKorNoteNoIdentifier;
  note.guid = reply.FoundId();
  note.content_type = "text/plain";
  note.entity_name = "com.apple.notes.Note";
  note.date_created_source = note.date_modified_source = now;
  KorListing listing(packet, command.uuid);
  return listing.SendAttachment(kStageNotes, "[" + KorNoteJson(note) + "]");
}

int KorModuleNote::ForwardToPlugin(kst::IPCPacket* packet, const DeviceCommand& command) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(command.json, "info");
  std::string note_db, note_store_db;
  if (!info || !GetTexts(*info, {{"note_db_path", &note_db}, {"note_store_db_path", &note_store_db}})) {
    return kKorBadJson;
  }
  const std::string text = VelJsonUtil::ToString(*info);
  const std::string task_id = KorTaskIdText(packet);
  KSTPluginBus& bus = KSTPluginBus::Get();
  if (!bus.HasReceivers(kKorNoteListPluginEvent, bus.HostIdentity())) {
    KLOG(WARNING) << "notes from backup " << task_id << ": no plug-in took " << kKorNoteListPluginEvent;
    return kKorOk;
  }
  KSTObserveData event;
  std::memset(&event, 0, sizeof(event));
  event.task_id = task_id.c_str();
  event.data_kind = KST_OBSERVE_TEXT;
  event.event_name = kKorNoteListPluginEvent;
  event.data = text.c_str();
  event.data_length = text.size();
  event.sender = bus.HostIdentity();
  // The plug-in's results name the device, as this command's own messages do.
  if (auto task = CommandTask(packet)) {
    if (auto meta = task->GetTaskDataAs<TaskMetaData>()) meta->text = command.uuid;
  }
  KLOG(INFO) << "notes from backup " << task_id << " published as " << kKorNoteListPluginEvent;
  bus.Publish(&event);
  return kKorReplyLater;  // the plug-in sends the final reply
}

void KorModuleNote::Update(void* record, const char* event_name) {
  if (const KorBackupExtractEvent* event = KorExtractEventFor(record, event_name, kKorNotesDbName)) {
    KorForwardExtractedPath(*event, "note_db_path");
  } else if (const KorBackupExtractEvent* store = KorExtractEventFor(record, event_name, kKorNoteStoreDbName)) {
    KorForwardExtractedPath(*store, "note_store_db_path");
  }
}
