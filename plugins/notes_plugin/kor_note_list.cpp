#include "kor_note_list.h"

#include <rapidjson/document.h>

#include "kor_note_readers.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"

namespace {

// Collects note objects into "[...]" and sends each full batch.
class NoteBatch {
 public:
  explicit NoteBatch(const KorNoteBatchSend& send) : send_(send) {}
  int Add(const KorNoteRecord& note) {
    text_.push_back(count_ == 0 ? '[' : ',');
    KorAppendNoteJson(note, &text_);
    return ++count_ < kKorNoteListBatch ? 0 : Flush();
  }
  int Flush() {
    if (count_ == 0) return 0;
    text_.push_back(']');
    int rc = send_(text_);
    text_.clear();
    count_ = 0;
    return rc;
  }

 private:
  const KorNoteBatchSend& send_;
  std::string text_;
  size_t count_ = 0;
};

// A member that is absent leaves the path empty; one of another type makes the request invalid.
bool OptionalPath(const rapidjson::Value& object, const char* key, std::string* path, bool* named) {
  if (!object.HasMember(key)) return true;
  if (!object[key].IsString()) return false;
  *path = object[key].GetString();
  *named = true;
  return true;
}

struct Tally {
  int64_t count = 0;
  int64_t locked = 0;
  int64_t damaged = 0;
  int stop_code = 0;  // what `send` answered when it refused a batch
};

// Reads one database into the batcher; answers the reader's code (0 for a skipped empty path).
int ReadInto(const std::string& path, int (*read)(const std::string&, const KorNoteSink&), NoteBatch* batch,
             Tally* tally) {
  if (path.empty() || tally->stop_code != 0) return 0;
  return read(path, [batch, tally](const KorNoteRecord& note) {
    ++tally->count;
    tally->locked += note.locked ? 1 : 0;
    tally->damaged += note.damaged ? 1 : 0;
    tally->stop_code = batch->Add(note);
    return tally->stop_code == 0;
  });
}

std::string SummaryInfo(const Tally& tally, const KorNoteListRequest& request, int legacy_code, int store_code) {
  std::string info = "{\"Count\":" + std::to_string(tally.count) + ",\"Locked\":" + std::to_string(tally.locked) +
                     ",\"Damaged\":" + std::to_string(tally.damaged);
  if (!request.note_db_path.empty()) info += ",\"note_db_code\":" + std::to_string(legacy_code);
  if (!request.note_store_db_path.empty()) info += ",\"note_store_db_code\":" + std::to_string(store_code);
  return info + "}";
}

}  // namespace

bool KorParseNoteListRequest(std::string_view json, KorNoteListRequest* request) {
  *request = KorNoteListRequest();
  rapidjson::Document document;
  if (!VelJsonUtil::Parse(json.data(), json.size(), &document) || !document.IsObject()) return false;
  bool named = false;
  return OptionalPath(document, "note_db_path", &request->note_db_path, &named) &&
         OptionalPath(document, "note_store_db_path", &request->note_store_db_path, &named) && named;
}

KorNoteListResult KorListNotes(const KorNoteListRequest& request, const KorNoteBatchSend& send) {
  NoteBatch batch(send);
  Tally tally;
  int legacy_code = ReadInto(request.note_db_path, &KorReadLegacyNotes, &batch, &tally);
  int store_code = ReadInto(request.note_store_db_path, &KorReadNoteStore, &batch, &tally);
  if (tally.stop_code == 0) tally.stop_code = batch.Flush();
  KorNoteListResult result;
  result.info = SummaryInfo(tally, request, legacy_code, store_code);
  bool legacy_failed = !request.note_db_path.empty() && legacy_code != 0;
  bool store_failed = !request.note_store_db_path.empty() && store_code != 0;
  bool any_read = (!request.note_db_path.empty() && !legacy_failed) ||
                  (!request.note_store_db_path.empty() && !store_failed);
  if (tally.stop_code != 0) {
    result.code = tally.stop_code;
  } else if (!any_read && (legacy_failed || store_failed)) {
    result.code = legacy_failed ? legacy_code : store_code;
  }
  KLOG(INFO) << "notes listed: " << result.info << " code " << result.code;
  return result;
}
