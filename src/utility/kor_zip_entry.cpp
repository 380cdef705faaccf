#include "utility/kor_zip_entry.h"

KorUnzipFile KorOpenZip(const std::string& path) { return KorUnzipFile(unzOpen64(path.c_str())); }

bool KorReadCurrentZipEntry(unzFile archive, uint64_t max_size, std::string* bytes) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      info.uncompressed_size == 0 || info.uncompressed_size > max_size || unzOpenCurrentFile(archive) != UNZ_OK) {
    return false;
  }
  bytes->assign(info.uncompressed_size, '\0');
  int count = unzReadCurrentFile(archive, bytes->data(), static_cast<unsigned>(bytes->size()));
  bool crc_ok = unzCloseCurrentFile(archive) == UNZ_OK;
  return count == static_cast<int>(bytes->size()) && crc_ok;
}

bool KorReadZipEntry(unzFile archive, const std::string& name, uint64_t max_size, std::string* bytes) {
  return unzLocateFile(archive, name.c_str(), 1) == UNZ_OK && KorReadCurrentZipEntry(archive, max_size, bytes);
}
