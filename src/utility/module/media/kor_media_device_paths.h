// Item paths as the device names them, checked against the device's files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devicefw/device_framework_abi.h"

// A stored location as a device path: iPod-style ":"-separated locations become "/"-separated,
// and the path starts with "/".
std::string KorMediaDevicePath(const std::string& stored);

// Looks device paths up through AFC on one connection, the look-ups sharing round trips where the
// framework allows: element i is the file's size when device_paths[i] names a regular file, else
// empty. Paths without a file name and extension are not asked about.
std::vector<std::optional<int64_t>> KorRegularFileSizes(AFCConnectionRef afc,
                                                        const std::vector<std::string>& device_paths);
