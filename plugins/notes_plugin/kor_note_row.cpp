#include "kor_note_row.h"

KorNoteRecord KorNoteFromRow(const KorSqliteStatement& rows, const char* source, const char* content_type) {
  KorNoteRecord note;
  note.source = source;
  note.content_type = content_type;
  note.guid = rows.Text(kKorNoteRowIdentifier);
  note.subject = rows.Text(kKorNoteRowTitle);
  note.folder = rows.Text(kKorNoteRowFolder);
  note.created = rows.Real(kKorNoteRowCreated);
  note.modified = rows.Real(kKorNoteRowModified);
  note.created_source = rows.Text(kKorNoteRowCreated);
  note.modified_source = rows.Text(kKorNoteRowModified);
  return note;
}

int KorReadNoteRows(const std::string& path, const std::function<std::string(const KorSqliteDatabase&)>& sql,
                    KorNoteRecord (*note)(const KorSqliteStatement&), const KorNoteSink& sink) {
  KorSqliteDatabase database;
  if (int rc = KorOpenDatabase(path, &database)) return rc;
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(database, sql(database), &rows, true)) return rc;
  while (rows.Step()) {
    if (!sink(note(rows))) break;
  }
  return 0;
}
