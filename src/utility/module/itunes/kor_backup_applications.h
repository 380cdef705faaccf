// The installed applications as Info.plist lists them: "Installed Applications" (bundle
// identifiers) and "Applications" (per application its ApplicationSINF, iTunesMetadata and
// PlaceholderIcon), read from the device's installation and springboard services.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

class KorDevice;

// Info.plist entries (key, XML element); empty when the device lists no applications or the
// installation service cannot be started.
std::vector<std::pair<std::string, std::string>> KorBackupApplicationEntries(const std::shared_ptr<KorDevice>& device);
