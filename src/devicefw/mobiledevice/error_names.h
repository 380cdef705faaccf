// Names of the framework's MobileDevice and AFC errors.
#pragma once

#include <string>

#include "devicefw/device_framework_abi.h"

namespace devicefw::md {

// "kAMDPasswordProtectedError" for 0xE800001A; the hexadecimal number when the error has no name.
std::string DeviceErrorName(mach_error_t error);
// "kAFCNotFoundError" for 8; "AFC error n" when the number has no name.
std::string AfcErrorName(afc_error_t error);

}  // namespace devicefw::md
