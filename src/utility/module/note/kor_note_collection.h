// The note module's reply handler: in the collect state every dict record of a batch becomes a
// note (string fields, device times also in local time); in any other state the reply of a
// push is searched for the device identifier of the new note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iOSAPI/kor_sync_session.h"

struct KorNote {
  std::string guid;
  std::string subject;
  std::string author;
  std::string content;
  std::string date_created_source;  // as the device sent it
  std::string date_modified_source;
  std::string content_type;
  std::string entity_name;
};

// One note object of the front-end's listing, as JSON text.
std::string KorNoteJson(const KorNote& note);

class KorNoteCollection : public KorSyncReplyHandler {
 public:
  // The host identifier whose device identifier a push reply gives.
  void SetLookupKey(std::string key) { lookup_key_ = std::move(key); }
  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override;

  const std::vector<KorNote>& Notes() const { return notes_; }
  const std::string& FoundId() const { return found_id_; }

 private:
  std::vector<KorNote> notes_;
  std::string lookup_key_;
  std::string found_id_;
};
