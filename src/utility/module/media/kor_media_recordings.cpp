#include "utility/module/media/kor_media_recordings.h"

#include "utility/kor_message.h"

// TODO(recordings): not written yet; answers success without listing anything.
int KorListRecordings(const KorMediaCommand&) { return kKorOk; }
