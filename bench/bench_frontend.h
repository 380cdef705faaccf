// The front-end side of the benchmarks that drive a running Tandrel: start it against a vdevice
// server, wait for devices to become ready, and name a device in a command's JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tandrel_harness.h"
#include "vdevice_fixture.h"

namespace bench {

// Tandrel started as a front-end starts it, reaching devices through `vd`'s usbmuxd socket.
// Null (with a line on stderr) when it does not start.
std::unique_ptr<harness::Tandrel> StartTandrelFor(const vdevice_test::VdeviceFixture& vd);

// Waits until `count` devices sent their ready message (command 1); their numbers by UDID.
std::map<std::string, int64_t> WaitForReadyDevices(frontend::Link& link, size_t count,
                                                   std::chrono::milliseconds timeout);

// The one device a benchmark serves, as Tandrel reported it ready.
struct ReadyDevice {
  std::string udid;
  int64_t code = 0;
};

// Serves `profile` on `vd` (exporting its usbmuxd socket to this process), starts Tandrel for it
// and waits until the profile's device is ready. Null (with a line on stderr) when any step fails.
// The simulated device runs without its per-request log.
std::unique_ptr<harness::Tandrel> ServeAndStartTandrel(vdevice_test::VdeviceFixture& vd, const std::string& profile,
                                                      ReadyDevice* device);

// A task ID no other command of this process uses.
uint64_t NextTaskId();

}  // namespace bench
