// The records a photo-library query produces and their JSON objects for the front-end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class KorSqliteStatement;

struct KorPhotoRecord {
  int64_t pk = 0;
  int64_t saved_asset_type = 0;
  std::string path;  // directory + "/" + file name, relative to the media root
  int64_t orientation = 0;
  int64_t additional_attributes = 0;
  std::string date_created;  // local time text
  std::string modification_date;
  int64_t original_file_size = 0;
};

struct KorAlbumRecord {
  int64_t count = 0;
  int64_t pk = 0;  // 0 for the special albums
  std::string title;
  int64_t kind = 0;
  int type = 0;
};

// Album types: what "TYPE" says and what a client sends back as "album_type".
enum KorAlbumType : int {
  kKorAlbumUser = 0,
  kKorAlbumKind1000 = 1,
  kKorAlbumFavorites = 2,
  kKorAlbumScreenshots = 3,
  kKorAlbumSaved = 4,
  kKorAlbumRecentlyDeleted = 5,
  kKorAlbumVideos = 6,
  kKorAlbumLivePhotos = 7,
  kKorAlbumBursts = 8,
};

// What a query function works on: the staged library and, for the photos of one album, the
// album; the function fills photos or albums.
struct KorPhotoQuery {
  std::string path;             // the staged library (UTF-8)
  std::string product_version;  // the device's "productVersion"
  int64_t album_id = 0;
  int album_type = 0;
  std::vector<KorPhotoRecord> photos;
  std::vector<KorAlbumRecord> albums;
  // When set, photo rows go here as they are read (one record, reused) instead of into `photos`,
  // so that a listing can write and compress them while the query is still stepping. A function
  // only reads rows once all its statements are prepared, so it cannot fail after streaming.
  std::function<void(const KorPhotoRecord&)> photo_sink;
};

// A query function: 0 when it ran, else the code of its failure (19, 20 or 1).
using KorPhotoQueryFunction = int (*)(KorPhotoQuery* query);

// Seconds since 2001-01-01 UTC (fractions dropped) as "%.4d-%.2d-%.2d %.2d:%.2d:%.2d" local time.
std::string KorPhotoDateText(double seconds_since_2001);
// Appends every row of a photo query (columns Z_PK, ZSAVEDASSETTYPE, PATH, ZORIENTATION,
// ZADDITIONALATTRIBUTES, ZDATECREATED, ZMODIFICATIONDATE, ZORIGINALFILESIZE).
// Into the query's sink when it has one, else into its photos.
void KorReadPhotoRows(KorSqliteStatement& rows, KorPhotoQuery* query);
// Appends the rows of an album query (COUNT, Z_PK, TITLE, ZKIND) as albums of `type`; a row
// whose count is 0 ends the reading (an empty special album is not listed).
void KorReadAlbumRows(KorSqliteStatement& rows, int type, std::vector<KorAlbumRecord>* albums);

std::string KorPhotoJson(const KorPhotoRecord& photo);
std::string KorAlbumJson(const KorAlbumRecord& album);
// The same objects appended to `out` (a listing's batch text).
void KorAppendPhotoJson(const KorPhotoRecord& photo, std::string* out);
void KorAppendAlbumJson(const KorAlbumRecord& album, std::string* out);
