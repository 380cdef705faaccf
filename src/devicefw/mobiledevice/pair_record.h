// The host's pair record for a device, as usbmuxd keeps it (ReadPairRecord).
#pragma once

#include <optional>
#include <string>

#include "common/plist_handle.h"

namespace devicefw::md {

// The record, or empty when usbmuxd has none for this device.
PlistHandle ReadPairRecord(const std::string& udid);
// A string field of the record ("HostID", "SystemBUID"), or nothing.
std::optional<std::string> PairRecordText(const PlistHandle& record, const char* key);

}  // namespace devicefw::md
