#include "utility/module/itunes/kor_backup_paths.h"

#include <cstdint>
#include <ctime>

#include "platform/kst_file.h"

namespace {

constexpr int64_t kLastFormattableSecond = 32535194400LL;

bool HasParentStep(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string KorBackupFolderSuffix(int64_t seconds) {
  if (seconds < 0 || seconds >= kLastFormattableSecond) seconds = 0;
  const time_t clock = static_cast<time_t>(seconds);
  struct tm local {};
  localtime_r(&clock, &local);
  char text[32];
  std::strftime(text, sizeof(text), "-%Y%m%d%H%M%S", &local);
  return text;
}

KorBackupPaths::KorBackupPaths(std::string root, std::string udid, std::string suffix)
    : root_(std::move(root)), udid_(std::move(udid)), suffix_(std::move(suffix)) {
  if (root_.empty() || root_.back() != '/') root_ += '/';
  folder_ = root_ + udid_ + suffix_ + "/";
}

KorBackupPaths KorBackupPaths::ForFolder(const std::string& folder, const std::string& source_udid) {
  std::string trimmed = folder;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  const std::string parent = slash == std::string::npos || slash == 0 ? trimmed.substr(0, slash == 0 ? 1 : 0)
                                                                      : trimmed.substr(0, slash);
  const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  const bool named_after_source = name.compare(0, source_udid.size(), source_udid) == 0;
  KorBackupPaths paths(parent.empty() ? "./" : parent, source_udid,
                       named_after_source ? name.substr(source_udid.size()) : std::string());
  paths.folder_ = trimmed + "/";
  return paths;
}

std::string KorBackupPaths::Map(const std::string& device_path) const {
  std::string mapped = device_path;
  const size_t found = udid_.empty() ? std::string::npos : mapped.find(udid_);
  if (found != std::string::npos) mapped.insert(found + udid_.size(), suffix_);
  return root_ + mapped;
}

bool KorBackupPaths::Confine(const std::string& device_path, std::string* local_path, std::string* why) const {
  if (device_path.empty() || device_path.find('\0') != std::string::npos) {
    *why = "empty path or NUL byte";
    return false;
  }
  if (device_path.front() == '/') {
    *why = "absolute path";
    return false;
  }
  if (HasParentStep(device_path)) {
    *why = "parent-folder step";
    return false;
  }
  // Only the backup's own identifier at the start leads into the backup folder.
  if (udid_.empty() || device_path.compare(0, udid_.size(), udid_) != 0 ||
      (device_path.size() > udid_.size() && device_path[udid_.size()] != '/')) {
    *why = "outside the backup folder";
    return false;
  }
  std::string rest = device_path.substr(udid_.size());
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  *local_path = folder_ + rest;
  if (rest.empty()) local_path->pop_back();  // the backup folder itself, without its "/"
  if (CrossesSymlink(*local_path)) {
    *why = "symbolic link in the path";
    return false;
  }
  return true;
}

bool KorBackupPaths::CrossesSymlink(const std::string& local_path) const {
  // Every existing step below the backup folder, the last one included, must be a real folder or
  // file: a link could lead anywhere.
  size_t position = folder_.size();
  while (position <= local_path.size()) {
    size_t end = local_path.find('/', position);
    if (end == std::string::npos) end = local_path.size();
    kst::PathInfo info;
    if (kst::StatPath(local_path.substr(0, end), &info) != 0 || info.type == kst::PathType::kMissing) return false;
    if (info.type == kst::PathType::kSymlink) return true;
    position = end + 1;
  }
  return false;
}
