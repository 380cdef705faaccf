// The older notes database: one ZNOTE row per note, its body (HTML) in the ZNOTEBODY row that
// ZNOTE.ZBODY names, its store (the folder the phone shows) in ZSTORE.
#include "kor_note_readers.h"
#include "kor_note_row.h"

#include "platform/kst_log.h"
#include "utility/db/kor_sqlite.h"

namespace {

// Deleted notes and the store's bookkeeping rows are not notes a person sees.
constexpr const char* kLegacyNotesSql =
    "select n.ZGUID, n.ZTITLE, n.ZCREATIONDATE, n.ZMODIFICATIONDATE, s.ZNAME, n.ZAUTHOR, b.Z_PK, b.ZCONTENT "
    "from ZNOTE n left join ZNOTEBODY b on b.Z_PK = n.ZBODY left join ZSTORE s on s.Z_PK = n.ZSTORE "
    "where coalesce(n.ZDELETEDFLAG, 0) = 0 and coalesce(n.ZISBOOKKEEPINGENTRY, 0) = 0 order by n.Z_PK";

enum Column { kAuthor = kKorNoteRowFirstOwn, kBodyKey, kBody };

KorNoteRecord LegacyNote(const KorSqliteStatement& rows) {
  KorNoteRecord note = KorNoteFromRow(rows, kKorNoteSourceLegacy, "text/html");
  note.author = rows.Text(kAuthor);
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
  return KorReadNoteRows(path, [](const KorSqliteDatabase&) { return std::string(kLegacyNotesSql); }, &LegacyNote, sink);
}
