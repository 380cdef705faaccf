#include "utility/module/photo/kor_photo_functions.h"

#include "platform/kst_log.h"
#include "utility/module/photo/kor_photo_query_core_data.h"
#include "utility/module/photo/kor_photo_query_oldest.h"
#include "utility/module/photo/kor_photo_version.h"

namespace {

KorPhotoFunctionTable::VersionMap ByGeneration(KorPhotoQueryFunction oldest, KorPhotoQueryFunction core_data) {
  KorPhotoFunctionTable::VersionMap functions;
  for (int version : KorPhotoSupportedVersions()) functions[version] = version <= 5 ? oldest : core_data;
  return functions;
}

void ClearResults(KorPhotoQuery* query) {
  query->photos.clear();
  query->albums.clear();
}

}  // namespace

KorPhotoFunctionTable::KorPhotoFunctionTable()
    : functions_{ByGeneration(KorOldestPhotoList, KorCoreDataPhotoList),
                 ByGeneration(KorOldestAlbumList, KorCoreDataAlbumList),
                 ByGeneration(KorOldestAlbumPhotos, KorCoreDataAlbumPhotos)} {}

bool KorPhotoFunctionTable::Run(KorPhotoListing listing, KorPhotoQuery* query) {
  size_t index = static_cast<size_t>(listing);
  auto& cache = caches_[index];
  auto cached = cache.find(query->product_version);
  if (cached != cache.end()) {
    KLOG(INFO) << "photo query: the cached function for " << query->product_version;
    ClearResults(query);
    if (cached->second(query) == 0) return true;
    ClearResults(query);
    return false;
  }
  for (int version : KorPhotoTryOrder(query->product_version)) {
    auto function = functions_[index].find(version);
    if (function == functions_[index].end() || !function->second) continue;
    ClearResults(query);
    if (function->second(query) == 0) {
      KLOG(INFO) << "photo query: version " << version << "'s function serves " << query->product_version;
      cache[query->product_version] = function->second;
      return true;
    }
  }
  ClearResults(query);
  return false;
}

bool KorPhotoFunctionTable::HasCached(KorPhotoListing listing, const std::string& version) const {
  return caches_[static_cast<size_t>(listing)].count(version) != 0;
}
