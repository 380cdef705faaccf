#include "ipa_package.h"

#include <minizip/unzip.h>

#include <memory>

namespace vdevice {

namespace {

// Property lists of a package are small; anything larger is treated as hostile.
constexpr uint64_t kMaxPlistEntry = 4u << 20;
constexpr uint64_t kMaxEntries = 100000;

struct UnzipCloser {
  void operator()(void* archive) const { unzClose(archive); }
};
using UnzipHandle = std::unique_ptr<void, UnzipCloser>;

bool ReadCurrentEntry(unzFile archive, uint64_t size, std::string* bytes) {
  if (size > kMaxPlistEntry || unzOpenCurrentFile(archive) != UNZ_OK) return false;
  bytes->assign(size, '\0');
  int count = size ? unzReadCurrentFile(archive, bytes->data(), static_cast<unsigned>(size)) : 0;
  bool closed_ok = unzCloseCurrentFile(archive) == UNZ_OK;  // also checks the CRC
  return count == static_cast<int>(size) && closed_ok;
}

// "Payload/X.app/Info.plist" exactly one folder below Payload.
bool IsBundleInfoPlist(const std::string& name, std::string* app_folder) {
  const std::string prefix = "Payload/";
  const std::string suffix = ".app/Info.plist";
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  std::string folder = name.substr(0, name.size() - std::string("/Info.plist").size());
  if (folder.find('/', prefix.size()) != std::string::npos) return false;
  *app_folder = folder;
  return true;
}

}  // namespace

bool ReadIpaPackage(const std::string& path, IpaPackage* package, std::string* error) {
  UnzipHandle archive(unzOpen64(path.c_str()));
  if (!archive) {
    *error = "not a ZIP archive";
    return false;
  }
  uint64_t entries = 0;
  for (int status = unzGoToFirstFile(archive.get()); status == UNZ_OK && entries < kMaxEntries;
       status = unzGoToNextFile(archive.get()), ++entries) {
    unz_file_info64 info;
    // minizip leaves a name that fills the buffer unterminated; the last byte stays 0.
    char name[1024] = {};
    if (unzGetCurrentFileInfo64(archive.get(), &info, name, sizeof(name) - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
      *error = "unreadable entry";
      return false;
    }
    package->unpacked_bytes += info.uncompressed_size;
    std::string entry(name);
    std::string bytes;
    std::string app_folder;
    if (entry == "iTunesMetadata.plist" && ReadCurrentEntry(archive.get(), info.uncompressed_size, &bytes)) {
      package->metadata = bytes;
      package->metadata_plist = ParsePlist(bytes.data(), bytes.size());
    } else if (!package->info && IsBundleInfoPlist(entry, &app_folder) &&
               ReadCurrentEntry(archive.get(), info.uncompressed_size, &bytes)) {
      package->app_folder = app_folder;
      package->info = ParsePlist(bytes.data(), bytes.size());
    }
  }
  return true;
}

}  // namespace vdevice
