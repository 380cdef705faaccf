#include "mobiledevice/device_link.h"

#include "mobiledevice/lockdown_errors.h"
#include "mobiledevice/pair_record.h"

namespace devicefw::md {
namespace {

constexpr const char* kLockdownLabel = "Tandrel";

const char* OrNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

}  // namespace

mach_error_t DeviceLink::OpenLockdown() {
  const auto lookup = attachment_.interface_type == kAMDInterfaceNetwork ? IDEVICE_LOOKUP_NETWORK : IDEVICE_LOOKUP_USBMUX;
  idevice_t device = nullptr;
  if (idevice_new_with_options(&device, attachment_.udid.c_str(), lookup) != IDEVICE_E_SUCCESS) {
    return kAMDDeviceDisconnectedError;
  }
  IdeviceHandle device_owner(device);
  lockdownd_client_t client = nullptr;
  const lockdownd_error_t result = lockdownd_client_new(device, &client, kLockdownLabel);
  if (result != LOCKDOWN_E_SUCCESS) return result == LOCKDOWN_E_MUX_ERROR ? kAMDMuxConnectError : DeviceErrorFromLockdown(result);
  device_ = std::move(device_owner);
  lockdown_.reset(client);
  return kAMDSuccess;
}

mach_error_t DeviceLink::Connect() {
  std::lock_guard lock(mutex_);
  if (connect_count_ == 0) {
    const mach_error_t result = OpenLockdown();
    if (result != kAMDSuccess) return result;
  }
  ++connect_count_;
  return kAMDSuccess;
}

mach_error_t DeviceLink::Disconnect() {
  std::lock_guard lock(mutex_);
  if (connect_count_ == 0) return kAMDSuccess;
  if (--connect_count_ > 0) return kAMDSuccess;
  // The last holder is gone: the session (if any) ends with the lockdown connection.
  lockdown_.reset();
  device_.reset();
  session_count_ = 0;
  session_id_.clear();
  return kAMDSuccess;
}

bool DeviceLink::IsPaired() const { return ReadPairRecord(attachment_.udid) != nullptr; }

mach_error_t DeviceLink::Pair() {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) return kAMDNotConnectedError;
  // With no record given, libimobiledevice generates the host's keys and stores the record in
  // usbmuxd once the device accepts.
  return DeviceErrorFromLockdown(lockdownd_pair(ConnectedLockdown(), nullptr));
}

mach_error_t DeviceLink::ValidatePairing() {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) return kAMDNotConnectedError;
  if (ReadPairRecord(attachment_.udid) == nullptr) return kAMDMissingPairRecordError;
  return DeviceErrorFromLockdown(lockdownd_validate_pair(ConnectedLockdown(), nullptr));
}

mach_error_t DeviceLink::StartSession() {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) return kAMDNotConnectedError;
  if (session_count_ > 0) {
    ++session_count_;
    return kAMDSuccess;
  }
  const std::optional<std::string> host_id = PairRecordText(ReadPairRecord(attachment_.udid), "HostID");
  if (!host_id) return kAMDMissingPairRecordError;
  char* session_id = nullptr;
  int ssl_enabled = 0;
  const lockdownd_error_t result = lockdownd_start_session(ConnectedLockdown(), host_id->c_str(), &session_id, &ssl_enabled);
  MallocHandle<char> session_owner(session_id);
  if (result != LOCKDOWN_E_SUCCESS) return DeviceErrorFromLockdown(result);
  session_id_ = session_id == nullptr ? "" : session_id;
  session_count_ = 1;
  return kAMDSuccess;
}

mach_error_t DeviceLink::StopSession() {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) return kAMDNotConnectedError;
  if (session_count_ == 0) return kAMDSessionInactiveError;
  if (--session_count_ > 0) return kAMDSuccess;
  const lockdownd_error_t result = lockdownd_stop_session(ConnectedLockdown(), session_id_.c_str());
  session_id_.clear();
  return DeviceErrorFromLockdown(result);
}

PlistHandle DeviceLink::CopyValue(const std::optional<std::string>& domain, const std::optional<std::string>& key,
                                  mach_error_t* error) {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) {
    *error = kAMDNotConnectedError;
    return nullptr;
  }
  plist_t value = nullptr;
  const lockdownd_error_t result = lockdownd_get_value(ConnectedLockdown(), OrNull(domain), OrNull(key), &value);
  PlistHandle owner(value);
  *error = result == LOCKDOWN_E_SUCCESS && !owner ? kAMDMissingValueError : DeviceErrorFromLockdown(result);
  return *error == kAMDSuccess ? std::move(owner) : nullptr;
}

mach_error_t DeviceLink::SetValue(const std::optional<std::string>& domain, const std::string& key, PlistHandle value) {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) return kAMDNotConnectedError;
  // lockdownd_set_value takes the value into its request.
  return DeviceErrorFromLockdown(
      lockdownd_set_value(ConnectedLockdown(), OrNull(domain), key.c_str(), static_cast<plist_t>(value.release())));
}

mach_error_t DeviceLink::OpenServiceChannel(const lockdownd_service_descriptor_t service,
                                            std::shared_ptr<ServiceChannel>* channel) {
  idevice_connection_t connection = nullptr;
  if (idevice_connect(device_.get(), service->port, &connection) != IDEVICE_E_SUCCESS) return kAMDMuxConnectError;
  ConnectionHandle connection_owner(connection);
  if (service->ssl_enabled && idevice_connection_enable_ssl(connection) != IDEVICE_E_SUCCESS) return kAMDCryptoError;
  *channel = std::make_shared<ServiceChannel>(std::move(connection_owner), service->ssl_enabled != 0);
  return kAMDSuccess;
}

mach_error_t DeviceLink::StartService(const std::string& name, bool with_escrow_bag,
                                      std::shared_ptr<ServiceChannel>* channel) {
  std::lock_guard lock(mutex_);
  if (!ConnectedLockdown()) return kAMDNotConnectedError;
  lockdownd_service_descriptor_t service = nullptr;
  const lockdownd_error_t result =
      with_escrow_bag ? lockdownd_start_service_with_escrow_bag(ConnectedLockdown(), name.c_str(), &service)
                      : lockdownd_start_service(ConnectedLockdown(), name.c_str(), &service);
  ServiceDescriptorHandle service_owner(service);
  if (result != LOCKDOWN_E_SUCCESS) return DeviceErrorFromLockdown(result);
  if (service == nullptr || service->port == 0) return kAMDStartServiceError;
  return OpenServiceChannel(service, channel);
}

}  // namespace devicefw::md
