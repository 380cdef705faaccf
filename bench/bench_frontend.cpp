#include "bench_frontend.h"

#include <atomic>
#include <cstdio>

#include "platform/vel_json_util.h"

namespace bench {

std::unique_ptr<harness::Tandrel> StartTandrelFor(const vdevice_test::VdeviceFixture& vd) {
  harness::TandrelOptions options;
  options.brand = "TandrelBench";
  options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
  auto tandrel = std::make_unique<harness::Tandrel>(options);
  if (tandrel->Start()) return tandrel;
  std::fprintf(stderr, "Tandrel did not start (looked for %s)\n", harness::TandrelPath().c_str());
  return nullptr;
}

std::map<std::string, int64_t> WaitForReadyDevices(frontend::Link& link, size_t count,
                                                   std::chrono::milliseconds timeout) {
  std::map<std::string, int64_t> ready;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (ready.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    auto message = link.WaitFor(1, left);
    if (!message) break;
    ready[message->uuid] = message->code;
  }
  return ready;
}

std::unique_ptr<harness::Tandrel> ServeAndStartTandrel(vdevice_test::VdeviceFixture& vd, const std::string& profile,
                                                      ReadyDevice* device) {
  vd.SetVerbose(false);
  if (profile.empty() || !vd.Start({profile})) {
    std::fprintf(stderr, "cannot serve the simulated device\n%s", vd.ServerLog().c_str());
    return nullptr;
  }
  vd.ExportSocketAddress();
  std::unique_ptr<harness::Tandrel> tandrel = StartTandrelFor(vd);
  if (!tandrel) return nullptr;
  device->udid = vdevice_test::VdeviceFixture::ProfileUdid(profile);
  auto ready = WaitForReadyDevices(tandrel->Link(), 1, std::chrono::seconds(60));
  if (ready.count(device->udid) == 0) {
    std::fprintf(stderr, "the device did not become ready\n%s", vd.ServerLog().c_str());
    return nullptr;
  }
  device->code = ready[device->udid];
  return tandrel;
}

uint64_t NextTaskId() {
  static std::atomic<uint64_t> next{1000};
  return next++;
}

}  // namespace bench
