// Where a photo's thumbnail may be on the device, in the order they are tried: the camera's
// /DCIM/.THMB cache (named after the photo's path and modification time), the /PhotoData/Metadata
// copies (.JPG, then .THM), and the /PhotoData/Thumbnails/V2 folder of the photo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The part of `path` after the first of "DCIM/", "PhotoData/Sync/", "PhotoData/CPLAssets/",
// "PhotoData/CMMAssets/" found in it, each "/" replaced by "___"; "" when none occurs.
std::string KorThumbnailKey(const std::string& path);

// "/DCIM/.THMB/" + (seconds % 100, two digits) + "/" + key + "." + seconds.
std::string KorThmbPath(const std::string& key, int64_t modified_seconds);

// Every candidate in order. `info_read`: the photo's file information was read, and
// `modified_seconds` is its modification time.
std::vector<std::string> KorThumbnailCandidates(const std::string& path, bool info_read, int64_t modified_seconds);
