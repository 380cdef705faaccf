#include "utility/module/photo/kor_photo_thumbnail_paths.h"

#include <cstdio>

namespace {

std::string WithLeadingSlash(const std::string& path) { return !path.empty() && path.front() == '/' ? path : "/" + path; }

// The position of the extension's "." in the last path component, or npos.
size_t ExtensionDot(const std::string& path) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos) return dot;
  size_t slash = path.rfind('/');
  return slash != std::string::npos && slash > dot ? std::string::npos : dot;
}

}  // namespace

std::string KorThumbnailKey(const std::string& path) {
  static const char* const kMarkers[] = {"DCIM/", "PhotoData/Sync/", "PhotoData/CPLAssets/", "PhotoData/CMMAssets/"};
  for (const char* marker : kMarkers) {
    size_t at = path.find(marker);
    if (at == std::string::npos) continue;
    std::string rest = path.substr(at + std::char_traits<char>::length(marker));
    std::string key;
    key.reserve(rest.size());
    for (char c : rest) {
      if (c == '/') {
        key += "___";
      } else {
        key.push_back(c);
      }
    }
    return key;
  }
  return std::string();
}

std::string KorThmbPath(const std::string& key, int64_t modified_seconds) {
  char bucket[32];
  std::snprintf(bucket, sizeof(bucket), "%02ld", static_cast<long>(modified_seconds % 100));
  return "/DCIM/.THMB/" + std::string(bucket) + "/" + key + "." + std::to_string(modified_seconds);
}

std::vector<std::string> KorThumbnailCandidates(const std::string& path, bool info_read, int64_t modified_seconds) {
  std::vector<std::string> candidates;
  if (info_read) candidates.push_back(KorThmbPath(KorThumbnailKey(path), modified_seconds));
  size_t dot = ExtensionDot(path);
  if (dot != std::string::npos) {
    std::string stem = WithLeadingSlash(path.substr(0, dot + 1));
    candidates.push_back("/PhotoData/Metadata" + stem + "JPG");
    candidates.push_back("/PhotoData/Metadata" + stem + "THM");
  }
  candidates.push_back("/PhotoData/Thumbnails/V2" + WithLeadingSlash(path) + "/5003.JPG");
  return candidates;
}
