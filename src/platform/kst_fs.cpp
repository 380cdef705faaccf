#include "platform/kst_fs.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/kst_process.h"

namespace kst {

namespace fs = std::filesystem;

std::string TempFolder() {
  std::string folder = GetEnv("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

bool CreateDirectories(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  return fs::is_directory(path, error);
}

bool RemoveTree(const std::string& path) {
  std::string target = path;
  while (target.size() > 1 && (target.back() == '/' || target.back() == '\\')) target.pop_back();
  if (target.empty()) return false;
  std::error_code error;
  fs::remove_all(target, error);
  return !fs::exists(fs::symlink_status(target, error));
}

bool PathExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

int64_t FileSize(const std::string& path) {
  std::error_code error;
  auto size = fs::file_size(path, error);
  return error ? -1 : static_cast<int64_t>(size);
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  out->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(file);
}

std::string ParentFolder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash);
}

}  // namespace kst
