// The store metadata of an application package (.ipa): its "iTunesMetadata.plist", read with
// minizip, gives the bundle identifier under which the package is placed on the device.
#pragma once

#include <cstdint>
#include <string>

struct KorIpaMetadata {
  std::string bundle_id;
  std::string icon_url;  // "softwareIcon57x57URL", empty when missing
};

// The largest iTunesMetadata.plist that is read.
constexpr uint64_t kKorMaxIpaMetadata = 4u << 20;

// False (with a log line) when the file is not a ZIP archive, has no readable
// iTunesMetadata.plist, or names no usable bundle identifier.
bool KorReadIpaMetadata(const std::string& ipa_path, KorIpaMetadata* metadata);
// The same reading on the bytes of an iTunesMetadata.plist.
bool KorParseIpaMetadata(const uint8_t* bytes, size_t length, KorIpaMetadata* metadata);
// A bundle identifier is used as a file name on the device: letters, digits, ".", "-" and "_",
// at most 255 characters, and not made of dots alone.
bool KorIsUsableBundleId(const std::string& bundle_id);
