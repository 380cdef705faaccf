// What the installer learns from an application package (.ipa, a ZIP archive): the bundle's
// Info.plist under Payload/<name>.app/ and the store's iTunesMetadata.plist at the top.
#pragma once

#include <cstdint>
#include <string>

#include "plist_util.h"

namespace vdevice {

struct IpaPackage {
  std::string app_folder;    // "Payload/Name.app", empty when the archive has none
  PlistPtr info;             // Info.plist, null when missing or not a property list
  std::string metadata;      // iTunesMetadata.plist's bytes, empty when missing
  PlistPtr metadata_plist;   // the same parsed, null when missing or not a property list
  uint64_t unpacked_bytes = 0;
};

// False with *error when the file is not a readable ZIP archive.
bool ReadIpaPackage(const std::string& path, IpaPackage* package, std::string* error);

}  // namespace vdevice
