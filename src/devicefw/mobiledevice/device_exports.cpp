// The AMDevice* entry points: checks of the handle, then the device's link.
#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"
#include "mobiledevice/cf_text.h"
#include "mobiledevice/device_registry.h"
#include "mobiledevice/service_connection.h"

namespace devicefw::md {
namespace {

// Runs `call` on the device's link: invalid handles and departed devices fail cleanly.
template <typename Call>
mach_error_t WithLink(AMDeviceRef device, Call&& call) {
  if (device == nullptr || !IsKnownDevice(device)) return kAMDInvalidArgumentError;
  return GuardedCall(kAMDUndefinedError, [&]() -> mach_error_t {
    std::shared_ptr<DeviceLink> link = device->Link();
    if (!link) return kAMDDeviceDisconnectedError;
    return call(*link);
  });
}

bool WantsEscrowBag(CFDictionaryRef options) {
  if (options == nullptr || CFGetTypeID(options) != kCFTypeIDDictionary) return false;
  const void* value = CFDictionaryGetValue(options, __CFStringMakeConstantString("UnlockEscrowBag"));
  return value != nullptr && CFGetTypeID(value) == kCFTypeIDBoolean && CFBooleanGetValue(static_cast<CFBooleanRef>(value));
}

}  // namespace
}  // namespace devicefw::md

using devicefw::md::DeviceLink;
using devicefw::md::WithLink;

extern "C" {

int32_t AMDeviceGetInterfaceType(AMDeviceRef device) {
  if (device == nullptr || !devicefw::md::IsKnownDevice(device)) return kAMDInterfaceUnknown;
  return device->attachment.interface_type;
}

uint32_t AMDeviceGetConnectionID(AMDeviceRef device) {
  if (device == nullptr || !devicefw::md::IsKnownDevice(device)) return 0;
  return device->attachment.mux_handle;
}

mach_error_t AMDeviceConnect(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.Connect(); });
}

mach_error_t AMDeviceDisconnect(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.Disconnect(); });
}

int32_t AMDeviceIsPaired(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.IsPaired() ? kAMDSuccess : kAMDMissingPairRecordError; }) ==
         kAMDSuccess;
}

mach_error_t AMDevicePair(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.Pair(); });
}

mach_error_t AMDeviceValidatePairing(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.ValidatePairing(); });
}

mach_error_t AMDeviceStartSession(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.StartSession(); });
}

mach_error_t AMDeviceStopSession(AMDeviceRef device) {
  return WithLink(device, [](DeviceLink& link) { return link.StopSession(); });
}

// A null domain is the default domain; a null key asks for the whole domain as a dictionary.
CFTypeRef AMDeviceCopyValue(AMDeviceRef device, CFStringRef domain, CFStringRef key) {
  std::optional<std::string> domain_text = devicefw::md::Utf8FromCfString(domain);
  std::optional<std::string> key_text = devicefw::md::Utf8FromCfString(key);
  if ((domain != nullptr && !domain_text) || (key != nullptr && !key_text)) return nullptr;
  CFTypeRef copied = nullptr;
  WithLink(device, [&](DeviceLink& link) {
    mach_error_t error = kAMDSuccess;
    devicefw::PlistHandle value = link.CopyValue(domain_text, key_text, &error);
    if (value) copied = KorCFCreateFromPlist(value.get());
    return error;
  });
  return copied;
}

mach_error_t AMDeviceSetValue(AMDeviceRef device, CFStringRef domain, CFStringRef key, CFTypeRef value) {
  std::optional<std::string> domain_text = devicefw::md::Utf8FromCfString(domain);
  std::optional<std::string> key_text = devicefw::md::Utf8FromCfString(key);
  if ((domain != nullptr && !domain_text) || !key_text || value == nullptr) return kAMDInvalidArgumentError;
  devicefw::PlistHandle plist(KorPlistCreateFromCF(value));
  if (!plist) return kAMDInvalidArgumentError;
  return WithLink(device, [&](DeviceLink& link) { return link.SetValue(domain_text, *key_text, std::move(plist)); });
}

mach_error_t AMDeviceSecureStartService(AMDeviceRef device, CFStringRef name, CFDictionaryRef options,
                                        AMDServiceConnectionRef* connection) {
  if (connection == nullptr) return kAMDInvalidArgumentError;
  *connection = nullptr;
  std::optional<std::string> service_name = devicefw::md::Utf8FromCfString(name);
  if (!service_name) return kAMDInvalidArgumentError;
  const bool escrow_bag = devicefw::md::WantsEscrowBag(options);
  return WithLink(device, [&](DeviceLink& link) {
    std::shared_ptr<devicefw::md::ServiceChannel> channel;
    const mach_error_t result = link.StartService(*service_name, escrow_bag, &channel);
    if (result == kAMDSuccess) *connection = devicefw::md::NewServiceConnection(std::move(channel));
    return result;
  });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AMDeviceGetInterfaceType), AMDeviceGetInterfaceTypeFn>);
static_assert(std::is_same_v<decltype(&AMDeviceGetConnectionID), AMDeviceGetConnectionIDFn>);
static_assert(std::is_same_v<decltype(&AMDeviceConnect), AMDeviceConnectFn>);
static_assert(std::is_same_v<decltype(&AMDeviceDisconnect), AMDeviceDisconnectFn>);
static_assert(std::is_same_v<decltype(&AMDeviceIsPaired), AMDeviceIsPairedFn>);
static_assert(std::is_same_v<decltype(&AMDevicePair), AMDevicePairFn>);
static_assert(std::is_same_v<decltype(&AMDeviceValidatePairing), AMDeviceValidatePairingFn>);
static_assert(std::is_same_v<decltype(&AMDeviceStartSession), AMDeviceStartSessionFn>);
static_assert(std::is_same_v<decltype(&AMDeviceStopSession), AMDeviceStopSessionFn>);
static_assert(std::is_same_v<decltype(&AMDeviceCopyValue), AMDeviceCopyValueFn>);
static_assert(std::is_same_v<decltype(&AMDeviceSetValue), AMDeviceSetValueFn>);
static_assert(std::is_same_v<decltype(&AMDeviceSecureStartService), AMDeviceSecureStartServiceFn>);
