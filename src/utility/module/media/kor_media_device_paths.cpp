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

bool KorRegularFileSize(AFCConnectionRef afc, const std::string& device_path, int64_t* size) {
  if (!LooksLikeFile(device_path)) return false;
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info) || info.type != "S_IFREG") return false;
  *size = info.size;
  return true;
}
