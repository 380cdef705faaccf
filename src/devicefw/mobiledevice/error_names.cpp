// Error names of the framework: index n names the MobileDevice error 0xE8000000 + n, and the AFC
// error n. AMDCopyErrorText and AFCCopyErrorString answer with these names.
#include "mobiledevice/error_names.h"

#include <cstdio>
#include <string>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"
#include "devicefw/error_name_tables.h"

namespace devicefw::md {

std::string DeviceErrorName(mach_error_t error) {
  if (error == kAMDSuccess) return kMobileDeviceErrorNames[0];
  const uint32_t index = static_cast<uint32_t>(error) - kAMDErrorBase;
  if (index < kMobileDeviceErrorNames.size()) return kMobileDeviceErrorNames[index];
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<uint32_t>(error));
  return text;
}

std::string AfcErrorName(afc_error_t error) {
  if (error >= 0 && static_cast<size_t>(error) < kAfcErrorNames.size()) return kAfcErrorNames[error];
  return "AFC error " + std::to_string(error);
}

}  // namespace devicefw::md

extern "C" {

CFStringRef AMDCopyErrorText(mach_error_t error) {
  return devicefw::GuardedCall<CFStringRef>(nullptr, [&] {
    return CFStringCreateWithCString(nullptr, devicefw::md::DeviceErrorName(error).c_str(), kCFStringEncodingUTF8);
  });
}

CFStringRef AFCCopyErrorString(afc_error_t error) {
  return devicefw::GuardedCall<CFStringRef>(nullptr, [&] {
    return CFStringCreateWithCString(nullptr, devicefw::md::AfcErrorName(error).c_str(), kCFStringEncodingUTF8);
  });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AMDCopyErrorText), AMDCopyErrorTextFn>);
static_assert(std::is_same_v<decltype(&AFCCopyErrorString), AFCCopyErrorStringFn>);
