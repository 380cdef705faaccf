// Thumbnails for command 403: the requested photos, the lookup of each one's thumbnail on the
// device, and the info text of the message that carries it.
#pragma once

#include <string>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "utility/kor_command.h"

struct KorThumbnailRequest {
  std::string id_json;  // the entry's "id" as JSON text, sent back unchanged
  std::string path;     // the photo's device path
};

struct KorThumbnail {
  std::string device_path;
  std::string bytes;
};

// The largest thumbnail read into memory; a bigger file at a thumbnail place is not one.
constexpr int64_t kKorMaxThumbnailBytes = 16 * 1024 * 1024;

// The command's attachment: zlib-compressed JSON, a list of {"id", "path"}. False when it does
// not inflate or parse as a list; entries without a text "path" are left out.
bool KorParseThumbnailRequests(const KorCommandPayload& payload, std::vector<KorThumbnailRequest>* requests);
// Tries the thumbnail places in order and reads the first one found into memory.
bool KorFindThumbnail(AFCConnectionRef afc, const std::string& photo_path, KorThumbnail* thumbnail);
// {"id":<id>,"path":"<path>"} by plain concatenation.
std::string KorThumbnailInfo(const std::string& id_json, const std::string& device_path);
