// Media: lists the device's music library (songs, movies, music videos, TV shows, playlists;
// 1000) and one playlist's items (1010) from a staged copy of its media library, lists books
// and ringtones (1001) and voice recordings (1002), adds (1012) and removes (1013) books, and
// checks the item list of an operation on media items (1011).
#pragma once

#include "utility/kor_module.h"
#include "utility/module/media/kor_media_command.h"
#include "utility/module/media/kor_voice_book_records.h"

constexpr uint32_t kKorCommandMusicList = 1000;
constexpr uint32_t kKorCommandBooksAndRingtones = 1001;
constexpr uint32_t kKorCommandRecordings = 1002;
constexpr uint32_t kKorCommandPlaylistItems = 1010;
constexpr uint32_t kKorCommandMediaItems = 1011;
constexpr uint32_t kKorCommandAddBook = 1012;
constexpr uint32_t kKorCommandRemoveBooks = 1013;

class KorModuleMedia : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;
  // The voice recordings of the attached device `uuid` names, as command 1002 lists them, for the
  // plug-ins' platform function: 0, 7 (no such device), 12 (no file service), 19 or 20.
  int CollectRecordings(const std::string& uuid, std::vector<KorRecording>* out);

 private:
  // Runs one command that needs the device's file service; its result code.
  int Run(KorMediaCommand* command);
};
