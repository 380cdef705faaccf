// The query functions of each listing by supported system version, and the cache of the function
// that last succeeded for each device version ("productVersion").
#pragma once

#include <array>
#include <map>
#include <string>

#include "utility/module/photo/kor_photo_records.h"

enum class KorPhotoListing : size_t { kPhotos = 0, kAlbums = 1, kAlbumPhotos = 2 };

class KorPhotoFunctionTable {
 public:
  using VersionMap = std::map<int, KorPhotoQueryFunction>;

  // The functions of the three library generations: 4 and 5 the oldest schema, 6 to 14 Core Data.
  KorPhotoFunctionTable();
  // Other functions by version for each listing (photos, albums, photos of an album).
  explicit KorPhotoFunctionTable(std::array<VersionMap, 3> functions) : functions_(std::move(functions)) {}

  // Runs the cached function of the query's version, else the functions in try order until one
  // succeeds (and caches it). True when a function succeeded; otherwise the query holds nothing.
  // Not thread-safe: the module calls it under its mutex.
  bool Run(KorPhotoListing listing, KorPhotoQuery* query);
  bool HasCached(KorPhotoListing listing, const std::string& version) const;

 private:
  std::array<VersionMap, 3> functions_;
  std::array<std::map<std::string, KorPhotoQueryFunction>, 3> caches_;
};
