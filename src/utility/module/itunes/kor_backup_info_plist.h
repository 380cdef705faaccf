// "Info.plist" of a new backup folder: the device's identity and a few of its files, written
// before the transfer begins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devicefw/device_framework_abi.h"

class KorDevice;

// The XML text of Info.plist; `afc` may be null (the device files are then left out).
std::string KorBackupInfoPlistXml(const std::shared_ptr<KorDevice>& device, AFCConnectionRef afc,
                                  int64_t start_seconds);
// Writes it into the folder; false when it cannot be written.
bool KorWriteBackupInfoPlist(const std::shared_ptr<KorDevice>& device, AFCConnectionRef afc,
                             const std::string& folder, int64_t start_seconds);
