// Lockdown results as MobileDevice errors.
#pragma once

#include <libimobiledevice/lockdown.h>

#include "devicefw/device_framework_abi.h"

namespace devicefw::md {

mach_error_t DeviceErrorFromLockdown(lockdownd_error_t error);

}  // namespace devicefw::md
