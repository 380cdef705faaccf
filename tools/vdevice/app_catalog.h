// The applications installed on a simulated device, kept in the profile's
// installation_proxy/apps.json (an array of application records in the plist notation of
// device.json) so that installs and uninstalls outlive a connection and show in every service.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "plist_util.h"

namespace vdevice {

class AppCatalog {
 public:
  explicit AppCatalog(std::string data_folder);

  // Copies of every record, in the catalog's order; empty when the file is missing or broken.
  std::vector<PlistPtr> Records() const;
  // A copy of the record with this bundle identifier, or null.
  PlistPtr Find(const std::string& bundle_id) const;
  // Adds the record, replacing one with the same bundle identifier. False when it cannot be saved.
  bool Put(PlistPtr record);
  // False when no record has this bundle identifier (or the file cannot be saved).
  bool Remove(const std::string& bundle_id);

  // Archived applications (installation_proxy/archives.json), same format.
  bool PutArchive(PlistPtr record);
  std::vector<PlistPtr> Archives() const;

 private:
  std::vector<PlistPtr> Load(const std::string& file) const;
  bool Save(const std::string& file, const std::vector<PlistPtr>& records) const;

  std::string apps_file_;
  std::string archives_file_;
};

std::optional<std::string> BundleIdOf(plist_t record);

}  // namespace vdevice
