// "LIBMODEL_IBACKUP_QUERY_NOTE_LIST": lists the notes of the two notes databases a backup gave the
// front-end. The request is the JSON object {"note_db_path": older notes database,
// "note_store_db_path": note store}; an empty path skips that database. The notes go out in
// batches of at most 20 (each a JSON array of note objects), then the request ends with a code
// and the summary {"Count","Locked","Damaged"} plus the result of each database it named.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

constexpr const char* kKorNoteListEvent = "LIBMODEL_IBACKUP_QUERY_NOTE_LIST";
constexpr size_t kKorNoteListBatch = 20;

struct KorNoteListRequest {
  std::string note_db_path;
  std::string note_store_db_path;
};

// False when the text is not a JSON object with at least one of the two paths as a string (and
// no path of another type).
bool KorParseNoteListRequest(std::string_view json, KorNoteListRequest* request);

struct KorNoteListResult {
  int code = 0;      // 0; 6 when a batch could not go out because the task stopped; else the
                     // first database's code when no named database could be read
  std::string info;  // {"Count":N,"Locked":L,"Damaged":D[,"note_db_code":C][,"note_store_db_code":C]}
};

// Sends one batch (a JSON array of note objects); a non-zero answer stops the listing with it.
using KorNoteBatchSend = std::function<int(std::string_view json)>;

// Reads both databases and hands every full batch, then the last one, to `send`.
KorNoteListResult KorListNotes(const KorNoteListRequest& request, const KorNoteBatchSend& send);
