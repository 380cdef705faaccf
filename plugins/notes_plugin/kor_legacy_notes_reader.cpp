// The older notes database: one ZNOTE row per note, its body (HTML) in the ZNOTEBODY row that
// ZNOTE.ZBODY names, its store (the folder the phone shows) in ZSTORE.
#include "kor_note_readers.h"

#include "platform/kst_log.h"
#include "utility/db/kor_sqlite.h"

namespace {

// Deleted notes and the store's bookkeeping rows are not notes a person sees.
constexpr const char* kLegacyNotesSql =
    "select n.ZGUID, n.ZTITLE, n.ZAUTHOR, n.ZCREATIONDATE, n.ZMODIFICATIONDATE, s.ZNAME, b.Z_PK, b.ZCONTENT "
    "from ZNOTE n left join ZNOTEBODY b on b.Z_PK = n.ZBODY left join ZSTORE s on s.Z_PK = n.ZSTORE "
    "where coalesce(n.ZDELETEDFLAG, 0) = 0 and coalesce(n.ZISBOOKKEEPINGENTRY, 0) = 0 order by n.Z_PK";

enum Column { kGuid, kTitle, kAuthor, kCreated, kModified, kStore, kBodyKey, kBody };

KorNoteRecord LegacyNote(const KorSqliteStatement& rows) {
  KorNoteRecord note;
  note.source = kKorNoteSourceLegacy;
  note.content_type = "text/html";
  note.guid = rows.Text(kGuid);
  note.subject = rows.Text(kTitle);
  note.author = rows.Text(kAuthor);
  note.folder = rows.Text(kStore);
  note.created = rows.Real(kCreated);
  note.modified = rows.Real(kModified);
  note.created_source = rows.Text(kCreated);
  note.modified_source = rows.Text(kModified);
  std::string_view body = rows.Blob(kBody);
  if (rows.IsNull(kBodyKey) || body.size() > kKorMaxNoteBodyBytes) {
    note.damaged = true;
    KLOG(WARNING) << "note " << note.guid << " of the notes database has "
                  << (rows.IsNull(kBodyKey) ? "no body row" : "a body over the size limit");
  } else {
    note.content.assign(body.data(), body.size());
  }
  return note;
}

}  // namespace

int KorReadLegacyNotes(const std::string& path, const KorNoteSink& sink) {
  KorSqliteDatabase database;
  if (int rc = KorOpenDatabase(path, &database)) return rc;
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(database, kLegacyNotesSql, &rows, true)) return rc;
  while (rows.Step()) {
    if (!sink(LegacyNote(rows))) break;
  }
  return 0;
}
