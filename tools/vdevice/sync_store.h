// The record stores of com.apple.mobilesync in a profile: mobilesync/settings.json (batch size,
// refused and cancelled data classes) and one mobilesync/<data class>.json per class
// ({"records": {id: dict}}). Every data class uses the same store: a class plugs in by having a
// store file. Changes from the computer are written back to the class's file.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "plist_util.h"

namespace vdevice {

struct SyncSettings {
  uint64_t batch_size = 100;
  std::set<std::string> refused;    // answered with a refusal ("No Data Store available")
  std::set<std::string> cancelled;  // answered with SDMessageCancelSession
};

// Missing or malformed settings give the defaults.
SyncSettings LoadSyncSettings(const std::string& folder);

class SyncStore {
 public:
  // False when the class has no store file (the device has no data store for it).
  bool Load(const std::string& folder, const std::string& data_class);
  // The records split into batches of `batch_size` (at least one batch, maybe empty).
  std::vector<PlistPtr> Batches(uint64_t batch_size) const;
  // Applies a computer's entities dict and returns the remapping (computer identifier to the
  // device's). A dict under a stored identifier changes that record; one under "<word>/<stored
  // identifier>" of the same record kind does too (the form computers use for records they
  // change by the device's identifier) and is remapped to it; any other dict is added under an
  // identifier of the device's choosing. "___EmptyParameterString___" deletes the record and,
  // with it, every record owned only by it; the identifier leaves every other record's arrays.
  PlistPtr Apply(plist_t entities);
  bool Save() const;
  size_t size() const;

 private:
  std::string StoredIdentifier(const std::string& key, plist_t record) const;
  void Delete(const std::string& id);

  std::string path_;
  PlistPtr records_;
  uint64_t next_id_ = 1;
};

}  // namespace vdevice
