#include "shared_device.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "platform/kst_process.h"
#include "platform/qr_task_pool.h"

namespace {

using namespace std::chrono_literals;

// Records the first device the monitor reports ready.
class ReadyObserver : public KorDeviceCallback {
 public:
  void OnDeviceEvent(const std::shared_ptr<KorDevice>& device, uint32_t event) override {
    if (event != kKorDeviceEventReady) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_) ready_ = device;
    signal_.notify_all();
  }
  std::shared_ptr<KorDevice> WaitReady(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    signal_.wait_for(lock, timeout, [this] { return ready_ != nullptr; });
    return ready_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  std::shared_ptr<KorDevice> ready_;
};

void StartShared(SharedDevice* shared) {
  shared->profile = shared->vd.MakeProfile("demo");
  if (!shared->vd.Start({shared->profile})) return;
  shared->vd.ExportSocketAddress();
  kst::SetEnv("TANDREL_REGISTRY", std::string(TANDREL_LIB_DIR) + "/../etc/tandrel/registry.json");
  QrTaskPool::Get().Activate(4);
  static ReadyObserver observer;
  KorDeviceMonitor::Get().RegisterObserver(&observer);
  {
    std::lock_guard<std::mutex> lock(KorDeviceMonitor::Get().Lock());
    if (KorDeviceMonitor::Get().StartMonitoring() != 0) return;
  }
  shared->device = observer.WaitReady(30s);
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
