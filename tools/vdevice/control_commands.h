// The commands of the control channel, applied to the running server's devices:
//   attach DIR | detach UDID | trust UDID on|off|deny | lock UDID on|off |
//   fault UDID SERVICE KIND ARGS... | fault UDID SERVICE clear | list
#pragma once

#include <string>
#include <vector>

#include "device_registry.h"

namespace vdevice {

// Returns 0 with *message describing what was done, or 1 with *message saying what is wrong.
int RunControlCommand(DeviceRegistry& registry, const std::vector<std::string>& args, std::string* message);

}  // namespace vdevice
