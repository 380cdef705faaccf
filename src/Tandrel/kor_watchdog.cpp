#include "Tandrel/kor_watchdog.h"

#include <chrono>

#include "Tandrel/kor_process.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"

KorWatchdog::~KorWatchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void KorWatchdog::Watch(int64_t pid) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pid_ = pid;
    has_new_pid_ = true;
  }
  wake_.notify_all();
  if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
}

void KorWatchdog::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  has_new_pid_ = false;
  while (!stop_) {
    int64_t pid = pid_;
    lock.unlock();
    bool running = kst::IsProcessRunning(pid);
    lock.lock();
    if (running) {
      wake_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return stop_ || has_new_pid_; });
      has_new_pid_ = false;
      continue;
    }
    KLOG(INFO) << "front-end process " << pid << " is gone; quitting";
    KorProcess::Get().SetQuitting();
    std::thread(post_quit_).detach();
    wake_.wait(lock, [this] { return stop_ || has_new_pid_; });
    has_new_pid_ = false;
    if (stop_) break;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    lock.lock();
  }
}
