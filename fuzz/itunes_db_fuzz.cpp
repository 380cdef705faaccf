// A music database copy comes from the device: the chunk walk, the inflate of a compressed body
// and the music-track map must hold against any bytes. The cap is small so that a body which
// inflates far keeps each run short.
#include <cstddef>
#include <cstdint>

#include "utility/module/media/kor_itunes_db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KorItunesDatabase database;
  if (KorParseItunesDb(data, size, &database, size_t{4} << 20)) KorBuildMusicTrackMap(database);
  return 0;
}
