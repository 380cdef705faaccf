// Entry points that the host resolves but never relies on: restore mode, the notification proxy,
// application lookup and removal, path transfer and the plain (non-SSL-aware) service start.
// They exist so that the table resolves completely, and answer "unsupported".
#include "devicefw/devicefw_exports.h"

extern "C" {

mach_error_t AMRestoreModeDeviceCreate(uint32_t, uint32_t, uint32_t) { return kAMDUnsupportedError; }

mach_error_t AMRestoreRegisterForDeviceNotifications(void*, void*, void*, void*, uint32_t, void*) {
  return kAMDUnsupportedError;
}

mach_error_t AMDeviceStartService(AMDeviceRef, CFStringRef, int32_t* socket, uint32_t*) {
  if (socket != nullptr) *socket = -1;
  return kAMDUnsupportedError;
}

mach_error_t AMDPostNotification(AMDServiceConnectionRef, CFStringRef, CFStringRef) { return kAMDUnsupportedError; }
mach_error_t AMDShutdownNotificationProxy(AMDServiceConnectionRef) { return kAMDUnsupportedError; }
mach_error_t AMDListenForNotifications(AMDServiceConnectionRef, void*, void*) { return kAMDUnsupportedError; }
mach_error_t AMDObserveNotification(AMDServiceConnectionRef, CFStringRef) { return kAMDUnsupportedError; }

mach_error_t AMDeviceLookupApplications(AMDeviceRef, CFDictionaryRef, CFDictionaryRef* applications) {
  if (applications != nullptr) *applications = nullptr;
  return kAMDUnsupportedError;
}

mach_error_t AMDeviceSecureUninstallApplication(AMDServiceConnectionRef, AMDeviceRef, CFStringRef, CFDictionaryRef,
                                                void*, void*) {
  return kAMDUnsupportedError;
}

mach_error_t AMDeviceSecureTransferPath(uint32_t, AMDeviceRef, CFURLRef, CFDictionaryRef, void*, void*) {
  return kAMDUnsupportedError;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AMRestoreModeDeviceCreate), AMRestoreModeDeviceCreateFn>);
static_assert(std::is_same_v<decltype(&AMRestoreRegisterForDeviceNotifications),
                             AMRestoreRegisterForDeviceNotificationsFn>);
static_assert(std::is_same_v<decltype(&AMDeviceStartService), AMDeviceStartServiceFn>);
static_assert(std::is_same_v<decltype(&AMDPostNotification), AMDPostNotificationFn>);
static_assert(std::is_same_v<decltype(&AMDShutdownNotificationProxy), AMDShutdownNotificationProxyFn>);
static_assert(std::is_same_v<decltype(&AMDListenForNotifications), AMDListenForNotificationsFn>);
static_assert(std::is_same_v<decltype(&AMDObserveNotification), AMDObserveNotificationFn>);
static_assert(std::is_same_v<decltype(&AMDeviceLookupApplications), AMDeviceLookupApplicationsFn>);
static_assert(std::is_same_v<decltype(&AMDeviceSecureUninstallApplication), AMDeviceSecureUninstallApplicationFn>);
static_assert(std::is_same_v<decltype(&AMDeviceSecureTransferPath), AMDeviceSecureTransferPathFn>);
