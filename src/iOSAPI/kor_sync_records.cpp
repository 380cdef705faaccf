#include "iOSAPI/kor_sync_records.h"

#include "iOSAPI/kor_sync_sequence.h"
#include "platform/kst_log.h"

bool KorSyncCollectRecords(const KorValue& reply, std::vector<KorSyncRecord>* records) {
  if (!reply.IsArray()) return true;
  for (const KorValue& element : reply.AsArray()) {
    if (!element.IsDictionary() || !element.AsDictionary()) continue;
    for (auto& [id, fields] : element.AsDictionary()->Entries()) {
      // Entries that are not records (the batch's flags and entity names) are not dicts.
      if (!fields.IsDictionary() || !fields.AsDictionary()) continue;
      if (records->size() >= kKorSyncMaxRecords) return false;
      records->push_back({id, std::move(fields)});
    }
  }
  return true;
}

void KorSyncCollectRemap(const KorValue& reply, std::map<std::string, std::string>* remap) {
  if (!reply.IsArray()) return;
  for (const KorValue& element : reply.AsArray()) {
    if (!element.IsDictionary() || !element.AsDictionary()) continue;
    for (const auto& [host_id, device_id] : element.AsDictionary()->Entries()) {
      if (device_id.IsString()) (*remap)[host_id] = device_id.AsString();
    }
  }
}

void KorSyncBatchCollector::OnReply(int state, const KorValue& reply, bool* /*again*/, int32_t* result) {
  if (!KorDLHoldsName(reply, "SDMessageProcessChanges")) return;
  if (!KorSyncCollectRecords(reply, &records_) && !bound_logged_) {
    bound_logged_ = true;
    KLOG(WARNING) << "sync listing stopped keeping records at " << kKorSyncMaxRecords;
  }
  if (state == kKorSyncStateMoreBatches) *result = 1;
}
