// Reading single entries out of ZIP archives with minizip (an application package's store
// metadata, an EPUB book's container and package documents). Archives come from outside: every
// entry is read with a cap on its size and its checksum verified.
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <memory>
#include <string>

struct KorUnzipCloser {
  void operator()(void* archive) const { unzClose(archive); }
};
using KorUnzipFile = std::unique_ptr<void, KorUnzipCloser>;

// Opens an archive; null when the file is missing or not a ZIP archive.
KorUnzipFile KorOpenZip(const std::string& path);
// Reads the entry the archive is positioned on; false when it is empty, larger than `max_size`,
// or does not inflate to its recorded size and checksum.
bool KorReadCurrentZipEntry(unzFile archive, uint64_t max_size, std::string* bytes);
// Locates the entry named exactly `name` and reads it as above.
bool KorReadZipEntry(unzFile archive, const std::string& name, uint64_t max_size, std::string* bytes);
