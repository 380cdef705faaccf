// The note store: notes and folders share ZICCLOUDSYNCINGOBJECT, told apart by their entity number
// (Z_PRIMARYKEY names it "ICNote"); a note's folder is the row its ZFOLDER names (title in
// ZTITLE2), its body the ZICNOTEDATA row its ZNOTEDATA names. Column sets differ between system
// releases (creation dates moved from ZCREATIONDATE1 to ZCREATIONDATE3), so the optional columns
// are probed and the query is built from what is there.
#include <initializer_list>

#include "kor_note_readers.h"
#include "kor_note_row.h"
#include "platform/kst_log.h"
#include "utility/db/kor_sqlite.h"

namespace {

constexpr const char* kObjects = "ZICCLOUDSYNCINGOBJECT";

enum Column { kLocked = kKorNoteRowFirstOwn, kBodyKey, kBody };

bool HasColumn(const KorSqliteDatabase& database, const char* column) {
  return KorProbeColumn(database, kObjects, column) == kKorTableExists;
}

// The first present of `columns` (newest release first), as "n.COLUMN", else NULL.
std::string FirstColumn(const KorSqliteDatabase& database, std::initializer_list<const char*> columns) {
  std::string present;
  for (const char* column : columns) {
    if (!HasColumn(database, column)) continue;
    present += present.empty() ? "coalesce(" : ", ";
    present += std::string("n.") + column;
  }
  return present.empty() ? "NULL" : present + ", NULL)";
}

// The entity number of notes; nothing when the store does not name it.
std::optional<int64_t> NoteEntity(const KorSqliteDatabase& database) {
  KorSqliteStatement entity;
  if (KorProbeTable(database, "Z_PRIMARYKEY") != kKorTableExists ||
      KorPrepareStatement(database, "select Z_ENT from Z_PRIMARYKEY where Z_NAME = 'ICNote'", &entity, true) != 0 ||
      !entity.Step() || entity.IsNull(0)) {
    return std::nullopt;
  }
  return entity.Int64(0);
}

std::string NotesSql(const KorSqliteDatabase& database, const std::optional<int64_t>& entity) {
  bool folders = HasColumn(database, "ZFOLDER") && HasColumn(database, "ZTITLE2");
  std::string sql = "select n.ZIDENTIFIER, n.ZTITLE1, " +
                    FirstColumn(database, {"ZCREATIONDATE3", "ZCREATIONDATE1", "ZCREATIONDATE"}) + ", " +
                    FirstColumn(database, {"ZMODIFICATIONDATE1", "ZMODIFICATIONDATE"}) + ", " +
                    (folders ? "f.ZTITLE2" : "NULL") + ", " + FirstColumn(database, {"ZISPASSWORDPROTECTED"}) +
                    ", d.Z_PK, d.ZDATA from ZICCLOUDSYNCINGOBJECT n left join ZICNOTEDATA d on d.Z_PK = n.ZNOTEDATA ";
  if (folders) sql += "left join ZICCLOUDSYNCINGOBJECT f on f.Z_PK = n.ZFOLDER ";
  // Without the entity table, a note is a row that has a body.
  sql += entity ? "where n.Z_ENT = " + std::to_string(*entity) : std::string("where n.ZNOTEDATA is not null");
  if (HasColumn(database, "ZMARKEDFORDELETION")) sql += " and coalesce(n.ZMARKEDFORDELETION, 0) = 0";
  return sql + " order by n.Z_PK";
}

void ReadBody(const KorSqliteStatement& rows, KorNoteRecord* note) {
  std::string_view data = rows.Blob(kBody);
  if (rows.IsNull(kBodyKey) || data.empty()) {
    note->damaged = true;
    KLOG(WARNING) << "note " << note->guid << " of the note store has no body";
    return;
  }
  KorNoteBody body;
  KorNoteBodyResult result = KorDecodeNoteBody(data, &body);
  if (result != KorNoteBodyResult::kOk) {
    note->damaged = true;
    KLOG(WARNING) << "body of note " << note->guid << " (" << data.size() << " bytes) "
                  << KorNoteBodyResultName(result);
    return;
  }
  note->content = std::move(body.text);
  note->attachments = std::move(body.attachments);
}

KorNoteRecord StoreNote(const KorSqliteStatement& rows) {
  KorNoteRecord note = KorNoteFromRow(rows, kKorNoteSourceStore, "text/plain");
  // A locked note's body is ciphertext: it is listed, never decoded.
  note.locked = rows.Int64(kLocked) != 0;
  if (!note.locked) ReadBody(rows, &note);
  return note;
}

}  // namespace

int KorReadNoteStore(const std::string& path, const KorNoteSink& sink) {
  return KorReadNoteRows(
      path, [](const KorSqliteDatabase& database) { return NotesSql(database, NoteEntity(database)); }, &StoreNote,
      sink);
}
