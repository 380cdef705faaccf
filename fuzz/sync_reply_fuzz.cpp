// The synchronisation session with the fuzzer as the device: every reply of a listing and of a
// write goes through the batch collector, the contact, calendar and note collections and the
// remap collection and the contact write's remap and group lookup; the records then go through the calendar linking and the bookmark tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "fuzz_stream_io.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_sync_records.h"
#include "iOSAPI/kor_sync_sequence.h"
#include "iOSAPI/mobile_export_fun.h"
#include "utility/module/bookmark/kor_bookmark_tree.h"
#include "utility/module/calendar/kor_calendar_collection.h"
#include "utility/module/contact/kor_contact_changes.h"
#include "utility/module/contact/kor_contact_collection.h"
#include "utility/module/note/kor_note_collection.h"

namespace {

// Collects records as a listing does and remaps as a write does, whatever the state.
class FuzzHandler : public KorSyncReplyHandler {
 public:
  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override {
    batches.OnReply(state, reply, again, result);
    contacts.OnReply(state, reply, again, result);
    calendars.OnReply(state, reply, again, result);
    calendars.OnReply(state + 2, reply, again, result);
    notes.OnReply(state, reply, again, result);
    notes.OnReply(state + 1, reply, again, result);
    KorSyncCollectRemap(reply, &remap);
    // The contact write's remap states and the group lookup.
    for (int write_state = 2; write_state <= 11; ++write_state) changes.OnReply(write_state, reply, again, result);
  }
  KorSyncBatchCollector batches;
  KorContactCollection contacts;
  KorCalendarCollection calendars;
  KorNoteCollection notes;
  KorContactChangeHandler changes{"Group/h1"};
  std::map<std::string, std::string> remap;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  if (!framework) return 0;
  for (const KorSyncSequence* sequence : {&kKorSyncContactsListAll, &kKorSyncContactsAddGroup}) {
    size_t offset = 0;
    FuzzHandler handler;
    KorSyncSession session(FuzzStreamIo(data, size, &offset), kKorSyncContacts, &handler);
    KorRunSyncSequence(session, *sequence, "2027-01-01 09:03:04 +0100", [](int, std::vector<std::string>* elements) {
      elements->push_back(KorPlistDict({{"h1", KorPlistDict({{"first name", KorPlistString("a<b&c")}})}}));
      return true;
    });
    for (const KorSyncRecord& record : handler.batches.Records()) {
      if (!record.fields.IsDictionary()) std::abort();
    }
    if (handler.batches.Records().size() > kKorSyncMaxRecords) std::abort();
    if (!handler.calendars.Calendars().IsObject()) std::abort();
    if (!KorBookmarkTree(handler.batches.Records()).IsArray()) std::abort();
    for (const KorNote& note : handler.notes.Notes()) KorNoteJson(note);
    if (handler.changes.EndsSession() && !handler.changes.Remap(0).empty()) std::abort();
  }
  return 0;
}
