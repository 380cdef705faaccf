#include "utility/module/media/kor_itunes_db.h"

#include <fstream>

#include "platform/kst_zlib.h"
#include "utility/module/media/kor_itunes_chunk.h"
#include "utility/module/media/kor_itunes_data_object.h"

namespace {

// Below this header length the database header has no room for a compressed-body marker.
constexpr uint32_t kCompressedHeaderMinimum = 170;
// From this version on the database header carries the layout with words at 114.
constexpr uint32_t kVersionWithWordsAt114 = 108;

// Offsets of the fields this reader keeps.
constexpr size_t kTrackIdOffset = 16;
constexpr size_t kTrackFileTypeOffset = 24;
constexpr size_t kTrackFileSizeOffset = 36;
constexpr size_t kTrackDurationOffset = 40;
constexpr size_t kPlaylistItemTrackIdOffset = 24;

using ChildReader = bool (*)(const uint8_t* data, size_t available, KorItunesDataSet* set, size_t* total);

// The four-character code of a track's file type, most significant byte first ("MP3 ", "EPUB").
std::string FileTypeCode(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text.push_back(static_cast<char>((code >> shift) & 0xFF));
  return text;
}

bool ReadTrack(const uint8_t* data, size_t available, KorItunesDataSet* set, size_t* total) {
  KorItunesChunk chunk;
  if (!KorOpenSizedChunk(data, available, "mhit", &chunk)) return false;
  *total = chunk.size;
  KorItunesChunk header = chunk.Header();
  KorItunesTrack track;
  track.track_id = header.U32(kTrackIdOffset);
  track.file_type = FileTypeCode(header.U32(kTrackFileTypeOffset));
  track.file_size = header.U32(kTrackFileSizeOffset);
  track.duration_ms = header.U32(kTrackDurationOffset);
  KorReadDataObjects(chunk, chunk.header_length, header.U32(12), &track.strings);
  set->tracks.push_back(std::move(track));
  return true;
}

bool ReadAlbum(const uint8_t* data, size_t available, KorItunesDataSet* set, size_t* total) {
  KorItunesChunk chunk;
  if (!KorOpenSizedChunk(data, available, "mhia", &chunk)) return false;
  *total = chunk.size;
  KorItunesAlbum album;
  KorReadDataObjects(chunk, chunk.header_length, chunk.Header().U32(12), &album.strings);
  set->albums.push_back(std::move(album));
  return true;
}

bool ReadPlaylistItem(const uint8_t* data, size_t available, KorItunesPlaylist* playlist, size_t* total) {
  KorItunesChunk chunk;
  if (!KorOpenSizedChunk(data, available, "mhip", &chunk)) return false;
  *total = chunk.size;
  KorItunesPlaylistItem item;
  item.track_id = chunk.Header().U32(kPlaylistItemTrackIdOffset);
  KorReadDataObjects(chunk, chunk.header_length, chunk.Header().U32(12), &item.strings);
  playlist->items.push_back(std::move(item));
  return true;
}

// A playlist's data objects come first, then its items.
bool ReadPlaylist(const uint8_t* data, size_t available, KorItunesDataSet* set, size_t* total) {
  KorItunesChunk chunk;
  if (!KorOpenSizedChunk(data, available, "mhyp", &chunk)) return false;
  *total = chunk.size;
  KorItunesChunk header = chunk.Header();
  KorItunesPlaylist playlist;
  playlist.is_master = header.U8(20) != 0;
  size_t offset = KorReadDataObjects(chunk, chunk.header_length, header.U32(12), &playlist.strings);
  uint32_t item_count = header.U32(16);
  for (uint32_t i = 0; i < item_count && offset < chunk.size; ++i) {
    size_t item_total = 0;
    if (!ReadPlaylistItem(chunk.data + offset, chunk.size - offset, &playlist, &item_total)) break;
    offset += item_total;
  }
  set->playlists.push_back(std::move(playlist));
  return true;
}

// Reads as many children as the list announces, each advancing by its total length; the first
// child that is not what the list holds ends the list.
void ReadList(const KorItunesChunk& list, uint32_t count, ChildReader reader, KorItunesDataSet* set) {
  size_t offset = list.header_length;
  for (uint32_t i = 0; i < count && offset < list.size; ++i) {
    size_t total = 0;
    if (!reader(list.data + offset, list.size - offset, set, &total)) return;
    offset += total;
  }
}

void ReadDataSetChild(const KorItunesChunk& data_set, KorItunesDataSet* set) {
  static const struct {
    const char* tag;
    ChildReader reader;
  } kLists[] = {{"mhlt", ReadTrack}, {"mhlp", ReadPlaylist}, {"mhla", ReadAlbum}};
  const uint8_t* child = data_set.data + data_set.header_length;
  size_t available = data_set.size - data_set.header_length;
  for (const auto& list_kind : kLists) {
    KorItunesChunk list;
    uint32_t count = 0;
    if (KorOpenListChunk(child, available, list_kind.tag, &list, &count)) {
      ReadList(list, count, list_kind.reader, set);
      return;
    }
  }
}

// The data sets follow the database header back to back; `sets` starts at the first of them.
void ReadDataSets(const uint8_t* sets, size_t size, uint32_t set_count, KorItunesDatabase* database) {
  size_t offset = 0;
  for (uint32_t i = 0; i < set_count && offset < size; ++i) {
    KorItunesChunk data_set;
    if (!KorOpenSizedChunk(sets + offset, size - offset, "mhsd", &data_set)) return;
    KorItunesDataSet set;
    set.set_type = data_set.U32(12);
    ReadDataSetChild(data_set, &set);
    database->data_sets.push_back(std::move(set));
    offset += data_set.size;
  }
}

void ReadHeaderTrailer(const KorItunesChunk& header, KorItunesDatabase* database) {
  auto words_at_114 = [&] {
    database->header_layout = KorItunesHeaderLayout::kWordsAt114;
    database->header_trailer.push_back(header.U16(114));
    for (size_t offset = 116; offset <= 156; offset += 4) database->header_trailer.push_back(header.U32(offset));
  };
  if (header.U8(114) == 1 && header.U8(115) == 0) {
    words_at_114();
  } else if (header.U8(171) == 3 && header.U8(172) == 0) {
    database->header_layout = KorItunesHeaderLayout::kLongsAt171;
    database->header_trailer.push_back(header.U16(171));
    for (size_t offset = 171; offset < 171 + 7 * 8; offset += 8) database->header_trailer.push_back(header.U64(offset));
    database->header_trailer.push_back(header.U8(227));
  } else if (database->version >= kVersionWithWordsAt114) {
    words_at_114();
  } else {
    database->header_layout = KorItunesHeaderLayout::kFiveWords;
    for (size_t offset = 88; offset <= 104; offset += 4) database->header_trailer.push_back(header.U32(offset));
  }
}

bool HasCompressedBody(const KorItunesChunk& chunk) {
  uint32_t at = chunk.header_length;
  if (at < kCompressedHeaderMinimum || chunk.U8(at) != 'x') return false;
  uint32_t zlib_header = (uint32_t{chunk.U8(at)} << 8) | chunk.U8(at + 1);
  return zlib_header % 31 == 0;
}

// The inflated body, which stands where the compressed bytes stood; false when the body is
// corrupt or inflates past the cap.
bool InflateBody(const KorItunesChunk& chunk, size_t max_inflated, std::string* body) {
  size_t end = chunk.U32(8);
  if (end > chunk.size || end <= chunk.header_length) end = chunk.size;
  return kst::ZlibDecompress(chunk.data + chunk.header_length, end - chunk.header_length, max_inflated, body);
}

}  // namespace

bool KorParseItunesDb(const uint8_t* data, size_t size, KorItunesDatabase* database, size_t max_inflated) {
  *database = KorItunesDatabase{};
  KorItunesChunk chunk;
  uint32_t ignored_count = 0;
  // The database's third field is only trusted as the compressed extent, so it opens like a list.
  if (!KorOpenListChunk(data, size, "mhbd", &chunk, &ignored_count)) return false;
  KorItunesChunk header = chunk.Header();
  database->version = header.U32(16);
  database->database_id = header.U64(24);
  ReadHeaderTrailer(header, database);
  uint32_t set_count = header.U32(20);
  if (!HasCompressedBody(chunk)) {
    ReadDataSets(data + chunk.header_length, size - chunk.header_length, set_count, database);
    return true;
  }
  std::string body;
  if (!InflateBody(chunk, max_inflated, &body)) return false;
  database->was_compressed = true;
  ReadDataSets(reinterpret_cast<const uint8_t*>(body.data()), body.size(), set_count, database);
  return true;
}

bool KorReadItunesDb(const std::string& path, KorItunesDatabase* database, size_t max_inflated) {
  *database = KorItunesDatabase{};
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  std::streamoff size = file.tellg();
  if (size <= 0) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  file.seekg(0);
  if (!file.read(bytes.data(), size)) return false;
  return KorParseItunesDb(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), database, max_inflated);
}
