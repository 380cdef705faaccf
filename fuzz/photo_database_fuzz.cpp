// A photo library copy comes from the device: every query function of every generation, from the
// file's bytes to the listing's JSON, must hold against any file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "utility/module/photo/kor_photo_query_core_data.h"
#include "utility/module/photo/kor_photo_query_oldest.h"

namespace {

void RunAll(KorPhotoQueryFunction function, const std::string& path, const char* version, int album_type) {
  KorPhotoQuery query;
  query.path = path;
  query.product_version = version;
  query.album_id = 1;
  query.album_type = album_type;
  function(&query);
  for (const KorPhotoRecord& photo : query.photos) KorPhotoJson(photo);
  for (const KorAlbumRecord& album : query.albums) KorAlbumJson(album);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/photo_database_fuzz_" + std::to_string(getpid()) + ".sqlite";
  for (const char* suffix : {"-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  int album_type = size > 0 ? data[size - 1] % 9 : 0;
  RunAll(KorOldestPhotoList, path, "5.1", 0);
  RunAll(KorOldestAlbumList, path, "5.1", 0);
  RunAll(KorOldestAlbumPhotos, path, "5.1", 0);
  for (const char* version : {"12.4", "16.6"}) {
    RunAll(KorCoreDataPhotoList, path, version, 0);
    RunAll(KorCoreDataAlbumList, path, version, 0);
    RunAll(KorCoreDataAlbumPhotos, path, version, album_type);
  }
  return 0;
}
