#include "iOSAPI/kor_sync_records.h"

#include <algorithm>

#include "iOSAPI/kor_sync_sequence.h"
#include "platform/kst_log.h"

bool KorSyncVisitRecords(const KorValue& reply, size_t bound,
                         const std::function<void(const std::string& id, const KorValue& fields)>& visit) {
  if (!reply.IsArray()) return true;
  size_t visited = 0;
  bool complete = true;
  for (const KorValue& element : reply.AsArray()) {
    if (!element.IsDictionary() || !element.AsDictionary()) continue;
    element.AsDictionary()->ForEach([&](const std::string& id, const KorValue& fields) {
      // Entries that are not records (the batch's flags and entity names) are not dicts.
      if (!complete || !fields.IsDictionary() || !fields.AsDictionary()) return;
      if (visited >= bound) {
        complete = false;
        return;
      }
      ++visited;
      visit(id, fields);
    });
    if (!complete) return false;
  }
  return true;
}

bool KorSyncCollectRecords(const KorValue& reply, std::vector<KorSyncRecord>* records) {
  const size_t room = kKorSyncMaxRecords - std::min(records->size(), kKorSyncMaxRecords);
  return KorSyncVisitRecords(reply, room, [records](const std::string& id, const KorValue& fields) {
    records->push_back({id, fields});
  });
}

void KorSyncCollectRemap(const KorValue& reply, std::map<std::string, std::string>* remap) {
  if (!reply.IsArray()) return;
  for (const KorValue& element : reply.AsArray()) {
    if (!element.IsDictionary() || !element.AsDictionary()) continue;
    element.AsDictionary()->ForEach([remap](const std::string& host_id, const KorValue& device_id) {
      if (device_id.IsString()) (*remap)[host_id] = device_id.AsString();
    });
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
