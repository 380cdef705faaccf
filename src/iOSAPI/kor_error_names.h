// Names of the device framework's errors, for log lines.
#pragma once

#include <cstdint>

// "kAFCNotFoundError" for 8; "kAFCUnknownError" outside the table.
const char* KorAfcErrorName(int32_t code);
// "kAMDPasswordProtectedError" for 0xE800001A; "kAMDUnknownError" outside the table.
const char* KorMobileDeviceErrorName(int32_t code);
