#include "utility/module/itunes/kor_transfer_watch.h"

#include <chrono>

namespace {
constexpr auto kLookInterval = std::chrono::milliseconds(100);
}

KorTransferWatch::KorTransferWatch(const KorBackupHooks& hooks) : hooks_(hooks) {
  if (hooks_.interrupt) thread_ = std::thread([this] { Run(); });
}

KorTransferWatch::~KorTransferWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void KorTransferWatch::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, kLookInterval, [this] { return ending_; })) {
    if (KorHookSays(hooks_.stopped) || KorHookSays(hooks_.device_gone)) {
      hooks_.interrupt();
      return;
    }
  }
}
