// A small client of the simulated device's synchronisation service written on libimobiledevice's
// own mobilesync API: the independent reading the tests compare Tandrel's listings with.
#pragma once

#include <plist/plist.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

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

using Remap = std::map<std::string, std::string>;
// Builds the next push from the remappings the device answered so far (null: nothing to push).
using PushStep = std::function<plist_t(const Remap& so_far)>;

// One write session as libimobiledevice's clients run it: everything read and acknowledged, the
// device ready to receive, then one ProcessChanges per step (the last flagged as such), each
// followed by the device's remapping. Returns every remapping; *error is the first failure.
Remap PushSteps(DeviceSession& session, const std::string& data_class, uint64_t class_version,
                const std::vector<PushStep>& steps, int* error);

// Announces the class and sends `message` (consumed) at once, without reading anything first;
// returns the device's answer as [name, reason-or-class].
std::vector<std::string> AnnounceAndSend(DeviceSession& session, const std::string& data_class, plist_t message,
                                         int* error);

}  // namespace vdevice_test
