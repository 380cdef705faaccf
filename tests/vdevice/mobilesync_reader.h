// A small client of the simulated device's synchronisation service written on libimobiledevice's
// own mobilesync API: the independent reading the tests compare Tandrel's listings with.
#pragma once

#include <plist/plist.h>

#include <map>
#include <string>

#include "device_session.h"

namespace vdevice_test {

struct MobileSyncReading {
  int error = 0;             // the first mobilesync error, 0 when the session went through
  std::string refusal;       // the device's reason when it refused or cancelled
  int batches = 0;
  std::map<std::string, std::string> records;  // identifier -> the record's XML text
};

// Reads every record of `data_class` (slow sync, all records, one acknowledgement per batch).
MobileSyncReading ReadAllRecords(DeviceSession& session, const std::string& data_class, uint64_t class_version);

// Pushes `entities` (a dict, consumed) after reading everything; returns the remapping as
// host identifier -> device identifier, or error in *error.
std::map<std::string, std::string> PushRecords(DeviceSession& session, const std::string& data_class,
                                               uint64_t class_version, plist_t entities, int* error);

}  // namespace vdevice_test
