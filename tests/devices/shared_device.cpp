#include "shared_device.h"

#include <chrono>
#include <cstdlib>

#include "device_monitor_fixture.h"

namespace {

using namespace std::chrono_literals;

void StartShared(SharedDevice* shared) {
  shared->profile = shared->vd.MakeProfile("demo");
  if (!shared->vd.Start({shared->profile})) return;
  shared->vd.ExportSocketAddress();
  shared->device = StartDeviceMonitorInProcess(std::string(TANDREL_LIB_DIR) + "/../etc/tandrel/registry.json", 30s);
}

}  // namespace

SharedDevice& Shared() {
  // Lives as long as the monitor's threads; only its server is stopped when the process ends.
  static SharedDevice* shared = [] {
    auto* made = new SharedDevice();
    StartShared(made);
    std::atexit([] { Shared().vd.Stop(); });
    return made;
  }();
  return *shared;
}
