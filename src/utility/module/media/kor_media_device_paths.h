// Item paths as the device names them, checked against the device's files.
#pragma once

#include <string>
#include <cstdint>

#include "devicefw/device_framework_abi.h"

// A stored location as a device path: iPod-style ":"-separated locations become "/"-separated,
// and the path starts with "/".
std::string KorMediaDevicePath(const std::string& stored);

// Looks a device path up through AFC: true, with the file's size, when it names a regular file.
// Paths without a file name and extension are not asked about.
bool KorRegularFileSize(AFCConnectionRef afc, const std::string& device_path, int64_t* size);
