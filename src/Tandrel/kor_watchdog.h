// Watches the front-end process; when it is gone, sets the quit flag and posts the quit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class KorWatchdog {
 public:
  using QuitFunc = std::function<void()>;
  static constexpr int kPollMs = 500;

  explicit KorWatchdog(QuitFunc post_quit) : post_quit_(std::move(post_quit)) {}
  ~KorWatchdog();
  KorWatchdog(const KorWatchdog&) = delete;
  KorWatchdog& operator=(const KorWatchdog&) = delete;

  // Starts watching `pid` (0 counts as gone); a second call replaces the ID and wakes the thread.
  void Watch(int64_t pid);

 private:
  void Loop();

  QuitFunc post_quit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  int64_t pid_ = 0;
  bool has_new_pid_ = false;
  bool stop_ = false;
  std::thread thread_;
};
