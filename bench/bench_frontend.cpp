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

uint64_t NextTaskId() {
  static std::atomic<uint64_t> next{1000};
  return next++;
}

}  // namespace bench
