// The property lists and the database a backup carries besides the files: Manifest.db (every
// file and folder with its domain, relative path, flags and archived attributes), Manifest.plist
// (the device's identity, the key bag, whether the backup is encrypted) and Status.plist (the
// snapshot's state). The key bag of an encrypted backup holds a salted hash of the password,
// which a restore checks the password it is given against.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "backup_catalog.h"
#include "plist_util.h"
#include "virtual_device.h"

namespace vdevice {

// Writes Manifest.db at `path` (replacing it). Returns 0, or 1 with *error.
int WriteManifestDatabase(const std::string& path, const std::vector<BackupFileEntry>& catalog, std::string* error);

// The fileIDs of the files (not folders) a Manifest.db lists, in its order; empty on failure.
std::optional<std::vector<std::string>> ReadManifestFileIds(const std::string& path, std::string* error);

PlistPtr MakeManifestPlist(const VirtualDevice& device, const std::string& password, int64_t now);
PlistPtr MakeStatusPlist(bool full_backup, int64_t now);

// Whether `password` opens the key bag of a Manifest.plist; true for a backup that is not encrypted.
bool PasswordOpensManifest(plist_t manifest, const std::string& password);

}  // namespace vdevice
