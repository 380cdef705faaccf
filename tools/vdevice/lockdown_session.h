// What lockdownd answers on one connection: value queries, pairing, sessions and service starts.
// Kept apart from the socket loop so that its rules can be tested request by request.
#pragma once

#include <string>

#include "plist_util.h"
#include "virtual_device.h"

namespace vdevice {

class LockdownSession {
 public:
  explicit LockdownSession(VirtualDevice& device) : device_(device) {}

  // Answers one request dictionary. *close is set after Goodbye.
  PlistPtr Handle(plist_t request, bool* close);
  // The reply to a request that an armed fault makes fail.
  static PlistPtr ErrorReply(const std::string& request, const std::string& error);

  bool in_session() const { return !session_id_.empty(); }

 private:
  PlistPtr QueryType(plist_t request);
  PlistPtr GetValue(plist_t request);
  PlistPtr SetValue(plist_t request);
  PlistPtr RemoveValue(plist_t request);
  PlistPtr StartSession(plist_t request);
  PlistPtr StopSession(plist_t request);
  PlistPtr Pair(plist_t request);
  PlistPtr ValidatePair(plist_t request);
  PlistPtr Unpair(plist_t request);
  PlistPtr StartService(plist_t request);

  PlistPtr PublicValues() const;
  // Empty when the pairing request is acceptable, else the lockdown error name.
  std::string PairingRefusal(plist_t pair_record) const;

  VirtualDevice& device_;
  std::string session_id_;
  std::string host_id_;
};

}  // namespace vdevice
