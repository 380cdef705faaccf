// One note as the notes plug-in lists it, read from either generation of the notes databases, and
// its JSON object: the note list format of the note module (every member a string) plus the
// folder, the database it came from, whether it is locked or its body damaged, and its
// attachments.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kor_note_body.h"

// Where a note was read: the older notes database or the note store.
constexpr const char* kKorNoteSourceLegacy = "note_db";
constexpr const char* kKorNoteSourceStore = "note_store_db";

struct KorNoteRecord {
  std::string guid;
  std::string subject;
  std::string author;
  std::string content;  // empty for a locked note and for a damaged body
  std::string content_type;
  std::string folder;
  std::string source;  // kKorNoteSource*
  // Seconds since 2001-01-01 UTC as the database holds them, and the same as its text.
  std::optional<double> created;
  std::optional<double> modified;
  std::string created_source;
  std::string modified_source;
  bool locked = false;   // password-protected: its body is ciphertext and is not read
  bool damaged = false;  // its body is missing or does not decode
  std::vector<KorNoteAttachment> attachments;
};

// Appends the note's JSON object. Texts that are not valid UTF-8 are repaired (U+FFFD), so that
// one bad row cannot make a whole batch unreadable.
void KorAppendNoteJson(const KorNoteRecord& note, std::string* out);
