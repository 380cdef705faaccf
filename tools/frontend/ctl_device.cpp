#include "ctl_device.h"

#include <iostream>

#include "frontend_message.h"

namespace ctl {

std::optional<ChosenDevice> WaitForDevice(Session& session, const std::string& udid,
                                          std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    auto ready = session.link.WaitFor(1, left);
    if (!ready) break;
    if (udid.empty() || ready->uuid == udid) return ChosenDevice{ready->uuid, ready->code};
  }
  std::cerr << "tandrelctl: "
            << (udid.empty() ? std::string("no device became ready") : "device " + udid + " did not become ready")
            << " in time\n";
  return std::nullopt;
}

std::string DeviceJson(const ChosenDevice& device, const std::string& extra) {
  return frontend::DeviceCommandJson(device.udid, device.code, extra);
}

}  // namespace ctl
