#include "utility/module/itunes/kor_backup_disk.h"

#include <filesystem>
#include <system_error>

#include "platform/kst_file.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"

namespace fs = std::filesystem;

void KorLogRefusedPath(const char* operation, const std::string& device_path, const std::string& why) {
  KLOG(WARNING) << operation << ": refused device path '" << device_path << "' (" << why << ")";
}

void KorBackupCreateDirectory(const KorBackupPaths& paths, const std::string& device_path) {
  std::string local;
  std::string why;
  if (!paths.Confine(device_path, &local, &why)) return KorLogRefusedPath("create directory", device_path, why);
  if (!kst::CreateDirectories(local)) KLOG(WARNING) << "create directory failed: " << local;
}

void KorBackupMoveItems(const KorBackupPaths& paths, const std::vector<std::pair<std::string, std::string>>& moves) {
  for (const auto& [source, target] : moves) {
    std::string local_source;
    std::string local_target;
    std::string why;
    if (!paths.Confine(source, &local_source, &why)) {
      KorLogRefusedPath("move", source, why);
      continue;
    }
    if (!paths.Confine(target, &local_target, &why)) {
      KorLogRefusedPath("move", target, why);
      continue;
    }
    std::error_code error;
    if (fs::exists(fs::symlink_status(local_target, error))) continue;  // an existing target stays
    fs::rename(local_source, local_target, error);
    if (error) KLOG(WARNING) << "move " << local_source << " -> " << local_target << " failed: " << error.message();
  }
}

void KorBackupRemoveItems(const KorBackupPaths& paths, const std::vector<std::string>& device_paths) {
  for (const std::string& device_path : device_paths) {
    std::string local;
    std::string why;
    if (!paths.Confine(device_path, &local, &why)) {
      KorLogRefusedPath("remove", device_path, why);
      continue;
    }
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(local, error))) continue;
    fs::remove(local, error);
    if (error) KLOG(WARNING) << "remove " << local << " failed: " << error.message();
  }
}

bool KorBackupFreeSpace(const KorBackupPaths& paths, uint64_t* free_bytes) {
  kst::FileSystemSpace space;
  if (kst::QueryFileSystemSpace(paths.Root(), &space) != 0) return false;
  *free_bytes = space.free_bytes;
  return true;
}
