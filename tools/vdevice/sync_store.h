// The record stores of com.apple.mobilesync in a profile: mobilesync/settings.json (batch size,
// refused data classes) and one mobilesync/<data class>.json per class ({"records": {id: dict}}).
// Changes from the computer are written back to the class's file.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "plist_util.h"

namespace vdevice {

struct SyncSettings {
  uint64_t batch_size = 100;
  std::set<std::string> refused;
};

// Missing or malformed settings give the defaults.
SyncSettings LoadSyncSettings(const std::string& folder);

class SyncStore {
 public:
  // False when the class has no store file (the device has no data store for it).
  bool Load(const std::string& folder, const std::string& data_class);
  // The records split into batches of `batch_size` (at least one batch, maybe empty).
  std::vector<PlistPtr> Batches(uint64_t batch_size) const;
  // Applies a computer's entities dict: "___EmptyParameterString___" deletes, a dict under an
  // unknown identifier is added under one of the device's choosing. Returns the remapping.
  PlistPtr Apply(plist_t entities);
  bool Save() const;

 private:
  std::string path_;
  PlistPtr records_;
  uint64_t next_id_ = 1;
};

}  // namespace vdevice
