#include "lockdown_session.h"

#include <array>

#include "device_service.h"
#include "fault_table.h"
#include "log.h"
#include "pair_check.h"
#include "random_id.h"

namespace vdevice {

namespace {

// The values a device gives to a computer that has not started a session.
constexpr std::array<const char*, 19> kPublicKeys = {
    "ActivationState", "BasebandVersion", "BuildVersion", "DeviceClass", "DeviceColor",
    "DeviceName", "DevicePublicKey", "HardwareModel", "HardwarePlatform", "ProductName",
    "ProductType", "ProductVersion", "ProductionSOC", "ProtocolVersion", "SupportedDeviceFamilies",
    "TelephonyCapability", "UniqueChipID", "UniqueDeviceID", "WiFiAddress"};

bool IsPublicKey(const std::string& key) {
  for (const char* name : kPublicKeys) {
    if (key == name) return true;
  }
  return false;
}

PlistPtr Reply(const std::string& request) {
  PlistPtr reply = MakeDict();
  SetString(reply.get(), "Request", request);
  return reply;
}

std::string HostIdOfPairRecord(plist_t request) {
  plist_t record = DictItem(request, "PairRecord", PLIST_DICT);
  return DictString(record, "HostID").value_or("");
}

}  // namespace

PlistPtr LockdownSession::ErrorReply(const std::string& request, const std::string& error) {
  PlistPtr reply = Reply(request);
  SetString(reply.get(), "Error", error);
  return reply;
}

PlistPtr LockdownSession::Handle(plist_t request, bool* close) {
  *close = false;
  std::optional<std::string> name = DictString(request, "Request");
  if (!name) {
    LogLine("%s lockdown: request without a \"Request\" string", device_.udid().c_str());
    return ErrorReply("", "InvalidRequest");
  }
  LogDetail("%s lockdown: %s", device_.udid().c_str(), name->c_str());
  if (*name == "QueryType") return QueryType(request);
  if (*name == "GetValue") return GetValue(request);
  if (*name == "SetValue") return SetValue(request);
  if (*name == "RemoveValue") return RemoveValue(request);
  if (*name == "StartSession") return StartSession(request);
  if (*name == "StopSession") return StopSession(request);
  if (*name == "Pair") return Pair(request);
  if (*name == "ValidatePair") return ValidatePair(request);
  if (*name == "Unpair") return Unpair(request);
  if (*name == "StartService") return StartService(request);
  if (*name == "Goodbye") {
    *close = true;
    return Reply(*name);
  }
  LogLine("%s lockdown: unsupported request %s", device_.udid().c_str(), name->c_str());
  return ErrorReply(*name, "InvalidRequest");
}

PlistPtr LockdownSession::QueryType(plist_t) {
  PlistPtr reply = Reply("QueryType");
  SetString(reply.get(), "Type", "com.apple.mobile.lockdown");
  return reply;
}

PlistPtr LockdownSession::PublicValues() const {
  PlistPtr all = device_.GetValue(kDefaultDomain, "");
  PlistPtr visible = MakeDict();
  for (const std::string& key : DictKeys(all.get())) {
    if (IsPublicKey(key)) SetNode(visible.get(), key.c_str(), Copy(plist_dict_get_item(all.get(), key.c_str())));
  }
  return visible;
}

PlistPtr LockdownSession::GetValue(plist_t request) {
  std::string domain = DictString(request, "Domain").value_or("");
  std::string key = DictString(request, "Key").value_or("");
  PlistPtr value;
  if (in_session()) {
    value = device_.GetValue(domain, key);
  } else if (!domain.empty()) {
    return ErrorReply("GetValue", "GetProhibited");
  } else if (key.empty()) {
    value = PublicValues();
  } else if (IsPublicKey(key)) {
    value = device_.GetValue(domain, key);
  } else {
    return ErrorReply("GetValue", "GetProhibited");
  }
  if (!value) return ErrorReply("GetValue", "MissingValue");
  PlistPtr reply = Reply("GetValue");
  if (!domain.empty()) SetString(reply.get(), "Domain", domain);
  if (!key.empty()) SetString(reply.get(), "Key", key);
  SetNode(reply.get(), "Value", std::move(value));
  return reply;
}

PlistPtr LockdownSession::SetValue(plist_t request) {
  if (!in_session()) return ErrorReply("SetValue", "SessionInactive");
  std::string domain = DictString(request, "Domain").value_or("");
  std::optional<std::string> key = DictString(request, "Key");
  plist_t value = plist_dict_get_item(request, "Value");
  if (!key || key->empty()) return ErrorReply("SetValue", "MissingKey");
  if (!value) return ErrorReply("SetValue", "MissingValue");
  if (domain.empty() && device_.profile().refused_set_values.count(*key)) {
    LogLine("%s lockdown: SetValue of %s refused by the profile", device_.udid().c_str(), key->c_str());
    return ErrorReply("SetValue", "SetProhibited");
  }
  device_.SetValue(domain, *key, Copy(value));
  LogLine("%s lockdown: %s%s%s set", device_.udid().c_str(), domain.c_str(), domain.empty() ? "" : "/",
          key->c_str());
  return Reply("SetValue");
}

PlistPtr LockdownSession::RemoveValue(plist_t request) {
  if (!in_session()) return ErrorReply("RemoveValue", "SessionInactive");
  std::string domain = DictString(request, "Domain").value_or("");
  std::optional<std::string> key = DictString(request, "Key");
  if (!key || key->empty()) return ErrorReply("RemoveValue", "MissingKey");
  if (!device_.RemoveValue(domain, *key)) return ErrorReply("RemoveValue", "MissingValue");
  return Reply("RemoveValue");
}

PlistPtr LockdownSession::StartSession(plist_t request) {
  std::optional<std::string> host_id = DictString(request, "HostID");
  if (!host_id || host_id->empty()) return ErrorReply("StartSession", "MissingHostID");
  if (!device_.pairings().Contains(*host_id)) {
    LogLine("%s lockdown: StartSession from unpaired host %s", device_.udid().c_str(), host_id->c_str());
    return ErrorReply("StartSession", "InvalidHostID");
  }
  session_id_ = RandomUuid();
  host_id_ = *host_id;
  PlistPtr reply = Reply("StartSession");
  SetString(reply.get(), "SessionID", session_id_);
  SetBool(reply.get(), "EnableSessionSSL", false);
  return reply;
}

PlistPtr LockdownSession::StopSession(plist_t request) {
  if (!in_session()) return ErrorReply("StopSession", "SessionInactive");
  std::optional<std::string> session_id = DictString(request, "SessionID");
  if (!session_id) return ErrorReply("StopSession", "MissingSessionID");
  if (*session_id != session_id_) return ErrorReply("StopSession", "InvalidSessionID");
  session_id_.clear();
  host_id_.clear();
  return Reply("StopSession");
}

std::string LockdownSession::PairingRefusal(plist_t pair_record) const {
  if (!pair_record) return "InvalidPairRecord";
  if (DictString(pair_record, "HostID").value_or("").empty()) return "MissingHostID";
  if (device_.locked()) return "PasswordProtected";
  // The record is checked before the trust dialog shows, so a request left waiting for it is
  // one that usbmuxd can complete as it stands.
  std::optional<std::string> device_key = DictData(device_.GetValue(kDefaultDomain, "").get(), "DevicePublicKey");
  std::string why;
  if (device_key && !CheckPairCertificates(DictData(pair_record, "DeviceCertificate").value_or(""),
                                           DictData(pair_record, "HostCertificate").value_or(""),
                                           DictData(pair_record, "RootCertificate").value_or(""), *device_key, &why)) {
    LogLine("%s lockdown: pair record rejected: %s", device_.udid().c_str(), why.c_str());
    return "InvalidPairRecord";
  }
  if (device_.trust() == TrustState::kOff) return "PairingDialogResponsePending";
  if (device_.trust() == TrustState::kDeny) return "UserDeniedPairing";
  return "";
}

PlistPtr LockdownSession::Pair(plist_t request) {
  plist_t record = DictItem(request, "PairRecord", PLIST_DICT);
  std::string refusal = PairingRefusal(record);
  if (refusal == "PairingDialogResponsePending") device_.SetPendingPairing(Copy(record));
  if (!refusal.empty()) {
    LogLine("%s lockdown: Pair answered %s", device_.udid().c_str(), refusal.c_str());
    return ErrorReply("Pair", refusal);
  }
  std::string host_id = HostIdOfPairRecord(request);
  device_.pairings().Add(host_id);
  LogLine("%s lockdown: paired with host %s", device_.udid().c_str(), host_id.c_str());
  PlistPtr reply = Reply("Pair");
  SetData(reply.get(), "EscrowBag", RandomBytes(48));
  return reply;
}

PlistPtr LockdownSession::ValidatePair(plist_t request) {
  std::string host_id = HostIdOfPairRecord(request);
  if (host_id.empty()) return ErrorReply("ValidatePair", "MissingHostID");
  if (!device_.pairings().Contains(host_id)) return ErrorReply("ValidatePair", "InvalidHostID");
  return Reply("ValidatePair");
}

PlistPtr LockdownSession::Unpair(plist_t request) {
  std::string host_id = HostIdOfPairRecord(request);
  if (host_id.empty()) return ErrorReply("Unpair", "MissingHostID");
  if (!device_.pairings().Remove(host_id)) return ErrorReply("Unpair", "InvalidHostID");
  LogLine("%s lockdown: unpaired host %s", device_.udid().c_str(), host_id.c_str());
  if (host_id == host_id_) session_id_.clear();
  return Reply("Unpair");
}

PlistPtr LockdownSession::StartService(plist_t request) {
  std::optional<std::string> service = DictString(request, "Service");
  if (!service || service->empty()) return ErrorReply("StartService", "MissingService");
  if (!in_session()) return ErrorReply("StartService", "SessionInactive");
  const ServiceFactory* factory = ServiceRegistry::Find(*service);
  if (!factory || *service == kLockdownServiceName || !(*factory)(device_)) {
    LogLine("%s lockdown: StartService of unknown service %s", device_.udid().c_str(), service->c_str());
    return ErrorReply("StartService", "InvalidService");
  }
  if (std::optional<Fault> refused = device_.faults().Take(*service, FaultKind::kRefuse)) {
    LogLine("fault: StartService of %s refused", service->c_str());
    return ErrorReply("StartService", refused->value);
  }
  if (device_.locked()) return ErrorReply("StartService", "PasswordProtected");
  std::optional<uint16_t> port = device_.OpenServicePort(*service);
  if (!port) {
    LogLine("%s lockdown: no port could be opened for %s", device_.udid().c_str(), service->c_str());
    return ErrorReply("StartService", "ServiceLimit");
  }
  LogDetail("%s lockdown: %s started on port %u", device_.udid().c_str(), service->c_str(), *port);
  PlistPtr reply = Reply("StartService");
  SetString(reply.get(), "Service", *service);
  SetUnsigned(reply.get(), "Port", *port);
  SetBool(reply.get(), "EnableServiceSSL", false);
  return reply;
}

}  // namespace vdevice
