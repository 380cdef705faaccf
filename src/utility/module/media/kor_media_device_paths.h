// Item paths as the device names them, checked against the device's files.
#pragma once

#include <string>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "utility/module/media/kor_media_records.h"

// A stored location as a device path: iPod-style ":"-separated locations become "/"-separated,
// and the path starts with "/".
std::string KorMediaDevicePath(const std::string& stored);

// Rewrites every item's path as a device path and looks it up through AFC. An item whose file is
// a regular file takes the file's size on the device; any other item keeps its database size (the
// front-end still sees it, and fetching it will tell).
void KorCheckItemPaths(AFCConnectionRef afc, std::vector<KorMediaItem>* items);
