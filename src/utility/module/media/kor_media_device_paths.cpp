#include "utility/module/media/kor_media_device_paths.h"

#include <algorithm>

#include "iOSAPI/kor_afc.h"

namespace {

// Only names with a "/" and an extension after the last "/" are files worth asking about.
bool LooksLikeFile(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  size_t dot = path.rfind('.');
  return dot != std::string::npos && dot > slash + 1 && dot + 1 < path.size();
}

}  // namespace

std::string KorMediaDevicePath(const std::string& stored) {
  if (stored.empty()) return stored;
  std::string path = stored;
  if (path.front() == ':') std::replace(path.begin(), path.end(), ':', '/');
  if (path.front() != '/') path.insert(path.begin(), '/');
  return path;
}

std::vector<std::optional<int64_t>> KorRegularFileSizes(AFCConnectionRef afc,
                                                        const std::vector<std::string>& device_paths) {
  std::vector<std::optional<int64_t>> sizes(device_paths.size());
  std::vector<size_t> asked;
  std::vector<std::string> files;
  for (size_t i = 0; i < device_paths.size(); ++i) {
    if (!LooksLikeFile(device_paths[i])) continue;
    asked.push_back(i);
    files.push_back(device_paths[i]);
  }
  std::vector<KorAfcFileInfo> infos;
  std::vector<bool> found;
  KorAfcStatBatch(afc, files, &infos, &found);
  for (size_t i = 0; i < asked.size(); ++i) {
    if (found[i] && infos[i].type == "S_IFREG") sizes[asked[i]] = infos[i].size;
  }
  return sizes;
}
