// Collects the device's books and ringtones from the staged book lists, the staged ringtone list
// and the staged music database: the book list's entries lie under "/Books/", the purchased list's
// under "/Books/Purchases/"; audiobooks (".m4b") among the music database's tracks are books too,
// and tones (".m4r") filed among its music are ringtones.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "utility/module/media/kor_itunes_db.h"
#include "utility/module/media/kor_voice_book_records.h"

class KorDevice;

struct KorBooksAndRingtones {
  std::vector<KorBook> books;
  std::vector<KorRingtone> ringtones;
};

// Stages the lists under `staging_mutex` and reads them; a list that cannot be staged or read
// contributes nothing.
void KorCollectBooksAndRingtones(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                                 KorBooksAndRingtones* out);

// The audiobooks and tones of a music-track map, with their sizes on the device: ":" in a location
// becomes "/", and a track whose file is missing or empty on the device is dropped.
void KorAddMusicDatabaseEntries(const std::map<uint32_t, KorMusicTrack>& tracks, AFCConnectionRef afc,
                                KorBooksAndRingtones* out);
