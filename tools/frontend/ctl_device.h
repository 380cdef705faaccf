// Choosing the device a tandrelctl command works on.
#pragma once

#include <optional>
#include <string>

#include "ctl_common.h"

namespace ctl {

struct ChosenDevice {
  std::string udid;
  int64_t code = 0;  // the device's number in Tandrel's messages
};

// Waits until the named device (or, with an empty UDID, the first device) is ready.
std::optional<ChosenDevice> WaitForDevice(Session& session, const std::string& udid, std::chrono::milliseconds timeout);
// The command JSON that names a device: {"uuid":..., "code":...} plus `extra` members (JSON text
// of an object's inside, may be empty).
std::string DeviceJson(const ChosenDevice& device, const std::string& extra = std::string());

}  // namespace ctl
