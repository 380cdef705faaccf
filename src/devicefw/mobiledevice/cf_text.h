// CF strings as the UTF-8 text that libimobiledevice takes.
#pragma once

#include <optional>
#include <string>

#include "devicefw/device_framework_abi.h"

namespace devicefw::md {

// The text of a CF string, or nothing when the reference is null or not a string.
std::optional<std::string> Utf8FromCfString(CFStringRef string);

}  // namespace devicefw::md
