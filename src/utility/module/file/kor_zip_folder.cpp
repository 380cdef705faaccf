#include "utility/module/file/kor_zip_folder.h"

#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr size_t kReadPiece = 16384;

struct ZipCloser {
  void operator()(void* zip) const {
    if (zip) zipClose(static_cast<zipFile>(zip), nullptr);
  }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};

zip_fileinfo EntryInfo(const fs::path& file) {
  zip_fileinfo info{};
  std::error_code error;
  auto written = fs::last_write_time(file, error);
  if (error) return info;
  std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
  std::tm local{};
  localtime_r(&seconds, &local);
  info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
  info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
  info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
  info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
  info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
  info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
  return info;
}

void AddFile(zipFile zip, const fs::path& file, const std::string& name) {
  std::unique_ptr<std::FILE, FileCloser> input(std::fopen(file.c_str(), "rb"));
  if (!input) {
    std::printf("error in opening %s for reading\n", file.c_str());
    return;
  }
  zip_fileinfo info = EntryInfo(file);
  if (zipOpenNewFileInZip3(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                           Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0) != ZIP_OK) {
    return;
  }
  std::vector<char> piece(kReadPiece);
  for (;;) {
    size_t read = std::fread(piece.data(), 1, piece.size(), input.get());
    if (read > 0) zipWriteInFileInZip(zip, piece.data(), static_cast<unsigned>(read));
    if (read < piece.size()) {
      if (std::ferror(input.get())) std::printf("error in reading %s\n", file.c_str());
      break;
    }
  }
  zipCloseFileInZip(zip);
}

}  // namespace

bool KorZipFolder(const std::string& folder, const std::string& archive_path) {
  ZipHandle zip(zipOpen(archive_path.c_str(), APPEND_STATUS_CREATE));
  if (!zip) return false;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    std::string name = fs::relative(it->path(), folder, error).generic_string();
    if (!error) AddFile(static_cast<zipFile>(zip.get()), it->path(), name);
  }
  return true;
}
