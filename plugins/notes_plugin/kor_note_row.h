// What both notes readers select first, in this order: the note's identifier, its title, its
// creation and change times (seconds since 2001-01-01 UTC) and its folder's name. Further columns
// are each reader's own.
#pragma once

#include <functional>
#include <string>

#include "kor_note_readers.h"
#include "utility/db/kor_sqlite.h"

enum KorNoteRowColumn { kKorNoteRowIdentifier, kKorNoteRowTitle, kKorNoteRowCreated, kKorNoteRowModified,
                        kKorNoteRowFolder, kKorNoteRowFirstOwn };

// A note with the shared columns of the current row filled in.
KorNoteRecord KorNoteFromRow(const KorSqliteStatement& rows, const char* source, const char* content_type);

// Opens the database, prepares the query `sql` writes for it, and hands the note `note` makes of
// each row to the sink until it refuses one. Answers 0, 19 or 20 as the readers do.
int KorReadNoteRows(const std::string& path, const std::function<std::string(const KorSqliteDatabase&)>& sql,
                    KorNoteRecord (*note)(const KorSqliteStatement&), const KorNoteSink& sink);
