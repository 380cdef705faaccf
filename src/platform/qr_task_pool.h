// The worker threads that run every task.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QrTaskPool {
 public:
  static QrTaskPool& Get();

  // Starts `count` workers; later calls add no threads.
  void Activate(size_t count);
  // Runs a function once on a worker; functions queue until a worker is free.
  void AddQuickTask(std::function<void()> func);
  size_t WorkerCount() const;

 private:
  QrTaskPool() = default;
  void WorkerLoop();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> workers_;
};
