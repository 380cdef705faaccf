// A profile folder read into memory: who the device is, how it is attached, how it answers
// pairing and service requests, and its lockdown values by domain. tools/vdevice/README.md
// documents the folder layout and the device.json members.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "plist_util.h"

namespace vdevice {

enum class ConnectionKind { kUsb, kNetwork };
// What the device does when a computer asks to pair: accept, keep the trust dialog up, refuse.
enum class TrustState { kOn, kOff, kDeny };

std::optional<TrustState> ParseTrustState(const std::string& text);
const char* TrustStateName(TrustState state);

// The name lockdown uses for the domain that has no name.
inline constexpr const char* kDefaultDomain = "default";

struct DeviceProfile {
  std::string folder;
  std::string udid;
  ConnectionKind connection = ConnectionKind::kUsb;
  TrustState trust = TrustState::kOn;
  bool locked = false;
  std::set<std::string> refused_set_values;
  uint64_t product_id = 0;
  std::map<std::string, PlistPtr> domains;  // lockdown values; kDefaultDomain for the unnamed one

  // The folder served by an AFC service ("afc", "afc2"); empty when the profile has none.
  std::string AfcRoot(const std::string& name) const;
  // A service's own data folder inside the profile (may not exist).
  std::string DataFolder(const std::string& name) const { return folder + "/" + name; }
};

// Reads `folder`/device.json. Returns 0, or 1 with *error saying what is wrong.
int LoadProfile(const std::string& folder, DeviceProfile* profile, std::string* error);

// Reads a JSON file of the profile (device.json, a service's data file) into a plist;
// null with *error when it is missing or malformed.
PlistPtr LoadJsonAsPlist(const std::string& path, std::string* error);

}  // namespace vdevice
