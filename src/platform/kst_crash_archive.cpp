#include "platform/kst_crash_archive.h"

#include <dirent.h>
#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <memory>

namespace kst {

namespace {

constexpr size_t kReadPiece = 16384;

struct ZipCloser {
  void operator()(void* zip) const {
    if (zip) zipClose(static_cast<zipFile>(zip), nullptr);
  }
};
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
struct DirCloser {
  void operator()(DIR* dir) const {
    if (dir) closedir(dir);
  }
};

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AddEntry(zipFile zip, const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> input(std::fopen(path.c_str(), "rb"));
  if (!input) return;
  zip_fileinfo info{};
  if (zipOpenNewFileInZip(zip, BaseName(path).c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                          Z_DEFAULT_COMPRESSION) != ZIP_OK) {
    return;
  }
  char piece[kReadPiece];
  size_t read = 0;
  while ((read = std::fread(piece, 1, sizeof(piece), input.get())) > 0) {
    zipWriteInFileInZip(zip, piece, static_cast<unsigned>(read));
  }
  zipCloseFileInZip(zip);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool PackCrashArchive(const std::string& archive_path, const std::vector<std::string>& files) {
  std::unique_ptr<void, ZipCloser> zip(zipOpen64(archive_path.c_str(), APPEND_STATUS_CREATE));
  if (!zip) return false;
  for (const std::string& file : files) AddEntry(static_cast<zipFile>(zip.get()), file);
  return true;
}

std::vector<std::string> ProcessLogFiles(const std::string& folder, long long pid) {
  std::vector<std::string> found;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return found;
  std::string tail = "." + std::to_string(pid);
  while (dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name.find(".log.") == std::string::npos || !EndsWith(name, tail)) continue;
    std::string path = folder + (EndsWith(folder, "/") ? "" : "/") + name;
    struct stat info{};
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) found.push_back(path);
  }
  return found;
}

}  // namespace kst
