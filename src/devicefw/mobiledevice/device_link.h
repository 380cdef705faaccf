// The host's link to one attached device: the libimobiledevice device, its lockdown client and
// the lockdown session. Connect and StartSession are counted, so that several holders of a
// connection or session (the host keeps them in shared objects that come and go independently)
// can each pair their call with a Disconnect / StopSession without ending the others'.
// Lockdown exchanges on one device are serialised by the link's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/plist_handle.h"
#include "devicefw/device_framework_abi.h"
#include "mobiledevice/device_handles.h"
#include "mobiledevice/service_channel.h"

namespace devicefw::md {

// What usbmuxd told about one attachment of a device; never changes.
struct DeviceAttachment {
  uint32_t mux_handle = 0;
  std::string udid;
  int32_t interface_type = kAMDInterfaceUnknown;
};

class DeviceLink {
 public:
  explicit DeviceLink(DeviceAttachment attachment) : attachment_(std::move(attachment)) {}

  mach_error_t Connect();
  mach_error_t Disconnect();
  bool IsPaired() const;
  mach_error_t Pair();
  mach_error_t ValidatePairing();
  mach_error_t StartSession();
  mach_error_t StopSession();
  // The value as a plist node, or empty with *error set.
  PlistHandle CopyValue(const std::optional<std::string>& domain, const std::optional<std::string>& key,
                        mach_error_t* error);
  mach_error_t SetValue(const std::optional<std::string>& domain, const std::string& key, PlistHandle value);
  mach_error_t StartService(const std::string& name, bool with_escrow_bag, std::shared_ptr<ServiceChannel>* channel);

 private:
  lockdownd_client_t ConnectedLockdown() const { return lockdown_.get(); }
  mach_error_t OpenLockdown();
  mach_error_t OpenServiceChannel(const lockdownd_service_descriptor_t service,
                                  std::shared_ptr<ServiceChannel>* channel);

  const DeviceAttachment attachment_;
  std::mutex mutex_;
  IdeviceHandle device_;
  LockdownHandle lockdown_;
  int connect_count_ = 0;
  int session_count_ = 0;
  std::string session_id_;
};

}  // namespace devicefw::md
