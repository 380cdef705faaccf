// Readers of the two generations of the phone's notes databases, as a backup carries them:
// - the older notes database (Library/Notes/notes.sqlite): ZNOTE rows, their HTML bodies in
//   ZNOTEBODY, the store (folder) of each note in ZSTORE;
// - the note store (NoteStore.sqlite of the notes group container): notes and folders are rows of
//   ZICCLOUDSYNCINGOBJECT told apart by entity (Z_PRIMARYKEY), each note's body a gzip-compressed
//   note document in ZICNOTEDATA.
// Deleted notes are left out. A locked note is listed without its text; a body that is missing or
// does not decode marks its note damaged and the reading goes on.
#pragma once

#include <functional>
#include <string>

#include "kor_note_record.h"

// Takes one note; false stops the reading (the listing's task was stopped).
using KorNoteSink = std::function<bool(const KorNoteRecord&)>;

// Both answer 0, or 19 when the database does not open, 20 when its tables cannot be queried
// (both logged as "OPEN DB: " / "OPEN STMT: "). Stopping through the sink is not an error.
int KorReadLegacyNotes(const std::string& path, const KorNoteSink& sink);
int KorReadNoteStore(const std::string& path, const KorNoteSink& sink);
