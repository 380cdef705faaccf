// The requests of the installation and icon services, as property-list XML texts. Values are
// escaped and the texts grow as needed, so no bundle identifier or path can overflow or change
// the request's structure.
#pragma once

#include <string>

enum class KorBrowsePass { kRecords, kSizes };

std::string KorBrowseRequestXml(KorBrowsePass pass);
// {"ApplicationIdentifier": id, "Command": command} for "Uninstall" and "Archive".
std::string KorApplicationRequestXml(const std::string& command, const std::string& bundle_id);
// {"PackagePath": path, "Command": "Upgrade"}
std::string KorUpgradeRequestXml(const std::string& package_path);
// {"bundleId": id, "command": "getIconPNGData"}
std::string KorIconRequestXml(const std::string& bundle_id);
