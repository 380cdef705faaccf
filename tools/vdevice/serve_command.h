// `vdevice serve`: plays usbmuxd on an address and one attached device per profile, and takes
// control commands on the derived control address, until SIGINT or SIGTERM.
#pragma once

#include <string>
#include <vector>

namespace vdevice {

struct ServeOptions {
  std::string socket_address;
  std::string control_address;  // empty: derived from socket_address
  std::vector<std::string> profiles;
};

// Returns the process exit code: 0 after a clean stop, 1 when it could not start.
int RunServe(const ServeOptions& options);

}  // namespace vdevice
