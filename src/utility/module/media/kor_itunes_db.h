// The device's binary music database (iTunesDB chunk format, the "iTunesCDB" copy possibly with a
// zlib-compressed body) read into plain records. The file comes from the device and is treated as
// hostile: every length and count is bounded by the bytes that are there, and a chunk that does not
// carry the expected tag or lies about its size ends only its own branch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// How a data object's body is read, decided by its object type.
enum class KorItunesObjectClass : int {
  kNotRead = 0,
  kString = 2,
  kClass3 = 3,
  kClass4 = 4,
  kClass5 = 5,
  kClass6 = 6,
  kIndexList = 7,
  kPositionData = 8,
  kClass9 = 9,
  kClass10 = 10,
};

KorItunesObjectClass KorItunesObjectClassOf(uint32_t object_type);

// One "mhod". Only the body its class reads is filled.
struct KorItunesDataObject {
  uint32_t type = 0;
  KorItunesObjectClass object_class = KorItunesObjectClass::kNotRead;
  std::string text;               // string class, converted from UTF-16LE to UTF-8
  std::vector<uint32_t> indices;  // index-list class
  uint32_t body_length = 0;       // position-data class: total length minus header length
};

// String objects of a record keyed by object type (the first of a type wins).
using KorItunesStrings = std::map<uint32_t, std::string>;

struct KorItunesTrack {
  uint32_t track_id = 0;
  std::string file_type;  // the four characters at offset 24, in file order
  uint32_t file_size = 0;
  uint32_t duration_ms = 0;
  KorItunesStrings strings;
};

struct KorItunesPlaylistItem {
  uint32_t track_id = 0;
  KorItunesStrings strings;
};

struct KorItunesPlaylist {
  bool is_master = false;
  KorItunesStrings strings;
  std::vector<KorItunesPlaylistItem> items;
};

struct KorItunesAlbum {
  KorItunesStrings strings;
};

struct KorItunesDataSet {
  uint32_t set_type = 0;
  std::vector<KorItunesTrack> tracks;
  std::vector<KorItunesPlaylist> playlists;
  std::vector<KorItunesAlbum> albums;
};

// Which of the database header's trailing layouts was found and what it held.
enum class KorItunesHeaderLayout : int { kFiveWords = 0, kWordsAt114 = 1, kLongsAt171 = 2 };

struct KorItunesDatabase {
  uint32_t version = 0;
  uint64_t database_id = 0;
  bool was_compressed = false;
  KorItunesHeaderLayout header_layout = KorItunesHeaderLayout::kFiveWords;
  std::vector<uint64_t> header_trailer;  // the values of that layout, in file order
  std::vector<KorItunesDataSet> data_sets;
};

// A music track as the books-and-ringtones listing wants it.
struct KorMusicTrack {
  uint32_t track_id = 0;
  std::string title;
  std::string subtitle;  // object type 13
  std::string artist;
  std::string album;
  std::string genre;
  std::string location;
  uint32_t file_size = 0;
  uint32_t duration_ms = 0;
};

// A compressed body never inflates past this many bytes (a real library is a few tens of MB).
constexpr size_t kItunesDbMaxInflated = size_t{512} << 20;

// Parses a database held in memory. False when the database header itself is unusable or the
// compressed body does not inflate within `max_inflated`; a damaged branch lower down leaves a
// partial tree and still answers true.
bool KorParseItunesDb(const uint8_t* data, size_t size, KorItunesDatabase* database,
                      size_t max_inflated = kItunesDbMaxInflated);

// Reads and parses the file at `path`. False when it cannot be opened or read completely, or when
// the parse fails.
bool KorReadItunesDb(const std::string& path, KorItunesDatabase* database,
                     size_t max_inflated = kItunesDbMaxInflated);

// Every track that is an item of a playlist of the playlist data set (set type 2), is not an
// "EPUB" file and whose location contains "Music", keyed by track id.
std::map<uint32_t, KorMusicTrack> KorBuildMusicTrackMap(const KorItunesDatabase& database);
