#include "utility/module/media/kor_media_library.h"

#include "utility/kor_message.h"

// TODO(music): not written yet; answers success without listing anything.
int KorListMusicLibrary(const KorMediaCommand&) { return kKorOk; }

int KorListPlaylistItems(const KorMediaCommand&) { return kKorOk; }
