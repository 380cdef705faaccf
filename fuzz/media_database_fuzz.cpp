// Music library copies come from the device: the listing's whole read, from the file's bytes to
// the items' and playlists' JSON, must hold against any file, read as the media library and as
// the older Library.itdb pair (the same bytes standing for both of its files).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "utility/db/kor_sqlite.h"
#include "utility/module/media/kor_media_library_reader.h"

namespace {

void Serialise(const KorMediaLibrary& library) {
  std::string text;
  for (const auto* items : {&library.songs, &library.movies, &library.music_videos, &library.tv_shows}) {
    for (const KorMediaItem& item : *items) KorAppendMediaItemJson(item, &text);
  }
  for (const KorMediaPlaylist& playlist : library.playlists) {
    KorAppendPlaylistJson(playlist, &text);
    text += KorPlaylistItemsJson(playlist);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/media_database_fuzz_" + std::to_string(getpid()) + ".db";
  for (const char* suffix : {"-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  KorSqliteDatabase db;
  if (KorOpenDatabase(path, &db, KorDbOpenMode::kReadOnly) != 0) return 0;
  KorMediaLibrary media_library;
  KorReadMediaLibrary(db, &media_library);
  Serialise(media_library);
  KorMediaLibrary itdb_library;
  KorReadLibraryItdb(db, path, &itdb_library);
  Serialise(itdb_library);
  return 0;
}
