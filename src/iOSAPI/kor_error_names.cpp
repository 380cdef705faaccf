#include "iOSAPI/kor_error_names.h"

#include <cstddef>

#include "devicefw/error_name_tables.h"

namespace {

constexpr uint32_t kMobileDeviceErrorBase = 0xE8000000u;

}  // namespace

const char* KorAfcErrorName(int32_t code) {
  if (code < 0 || static_cast<size_t>(code) >= devicefw::kAfcErrorNames.size()) return "kAFCUnknownError";
  return devicefw::kAfcErrorNames[static_cast<size_t>(code)];
}

const char* KorMobileDeviceErrorName(int32_t code) {
  if (code == 0) return devicefw::kMobileDeviceErrorNames[0];
  uint32_t value = static_cast<uint32_t>(code);
  if (value < kMobileDeviceErrorBase || value - kMobileDeviceErrorBase >= devicefw::kMobileDeviceErrorNames.size()) {
    return "kAMDUnknownError";
  }
  return devicefw::kMobileDeviceErrorNames[value - kMobileDeviceErrorBase];
}
