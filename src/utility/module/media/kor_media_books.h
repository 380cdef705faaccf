// Books and ringtones: the listing (1001, groups 1008 and 1003), adding a book (1012) and
// removing books (1013).
#pragma once

#include "utility/module/media/kor_media_command.h"

// Each returns the command's result code; the module sends the final reply.
int KorListBooksAndRingtones(const KorMediaCommand& command);
int KorAddBook(const KorMediaCommand& command);
int KorRemoveBooks(const KorMediaCommand& command);
