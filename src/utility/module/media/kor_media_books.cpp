#include "utility/module/media/kor_media_books.h"

#include "utility/kor_message.h"

// TODO(books): not written yet; each answers success without listing or changing anything.

int KorListBooksAndRingtones(const KorMediaCommand&) { return kKorOk; }

int KorAddBook(const KorMediaCommand&) { return kKorOk; }

int KorRemoveBooks(const KorMediaCommand&) { return kKorOk; }
