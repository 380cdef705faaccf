// Adding a book to the device (1012) and removing books from it (1013): the book files under
// "/Books" and the entries of the book lists that name them.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "devicefw/device_framework_abi.h"

class KorDevice;

// Result codes of 1012 and 1013 besides the shared ones.
constexpr int32_t kKorBookNotAccepted = 34;   // not an .EPUB or .PDF file, or it cannot be read
constexpr int32_t kKorBookUploadFailed = 37;  // the file could not be put on (or taken off) the device
constexpr int32_t kKorBookListFailed = 39;    // the book list could not be read or written

// 1012: `parameters` holds "path" (the local file) and optionally "remote" (the device folder,
// which must be "/Books"). 0, 8 (parameters), 34, 37 or 39; *device_path names the new file.
int KorAddBookToDevice(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                       const rapidjson::Value& parameters, std::string* device_path);
// 1013: `parameters` holds "paths", the device paths of the books to remove ("/Books/..." or
// "/Books/Purchases/..."). Each listed book leaves its list and the device; paths no list names
// are left alone. 0, 8, 37 or 39; *removed counts the books removed.
int KorRemoveBooksFromDevice(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                             const rapidjson::Value& parameters, int* removed);

// The device file name of an uploaded book: four random upper-case letters and the file's own
// extension (".epub" keeps its case).
std::string KorRandomBookName(const std::string& extension);
