#include "device_monitor_fixture.h"

#include <condition_variable>
#include <mutex>

#include "platform/kst_process.h"
#include "platform/qr_task_pool.h"
#include "utility/ios/kor_device_monitor.h"

namespace {

// Remembers the first device the monitor reports ready.
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

}  // namespace

std::shared_ptr<KorDevice> StartDeviceMonitorInProcess(const std::string& registry_file,
                                                       std::chrono::milliseconds timeout) {
  static ReadyObserver observer;
  kst::SetEnv("TANDREL_REGISTRY", registry_file);
  QrTaskPool::Get().Activate(4);
  KorDeviceMonitor::Get().RegisterObserver(&observer);
  {
    std::lock_guard<std::mutex> lock(KorDeviceMonitor::Get().Lock());
    if (KorDeviceMonitor::Get().StartMonitoring() != 0) return nullptr;
  }
  return observer.WaitReady(timeout);
}
