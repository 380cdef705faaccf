// What the synchronisation modules take out of device replies: the records of a batch (every
// dict-valued entry of every dict element, batches in arrival order) and the identifier
// remapping the device answers a host push with.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "iOSAPI/kor_sync_session.h"

struct KorSyncRecord {
  std::string id;
  KorValue fields;  // a dictionary
};

// A listing never keeps more records than this, whatever a device sends.
constexpr size_t kKorSyncMaxRecords = 1 << 20;

// Calls visit(id, fields) for the records of one reply in order, at most `bound` of them; false
// when some were left out for the bound.
bool KorSyncVisitRecords(const KorValue& reply, size_t bound,
                         const std::function<void(const std::string& id, const KorValue& fields)>& visit);
// Appends the records of one reply; false when the bound was reached and some were dropped.
bool KorSyncCollectRecords(const KorValue& reply, std::vector<KorSyncRecord>* records);
// Copies every string-valued entry of every dict element (host identifier to device identifier).
void KorSyncCollectRemap(const KorValue& reply, std::map<std::string, std::string>* remap);

// The read-everything part every module shares: in the collect state a record batch is taken;
// in the more-batches state it is taken as well and the exchange's result says that one came,
// so that the acknowledgement loop goes on.
class KorSyncBatchCollector : public KorSyncReplyHandler {
 public:
  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override;
  const std::vector<KorSyncRecord>& Records() const { return records_; }

 private:
  std::vector<KorSyncRecord> records_;
  bool bound_logged_ = false;
};
