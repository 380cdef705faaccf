#include "platform/qr_task_pool.h"

QrTaskPool& QrTaskPool::Get() {
  // Never destroyed: workers may still run while the process exits.
  static QrTaskPool* pool = new QrTaskPool();
  return *pool;
}

void QrTaskPool::Activate(size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!workers_.empty()) return;
  for (size_t i = 0; i < count; ++i) {
    workers_.emplace_back([this] { WorkerLoop(); });
    workers_.back().detach();
  }
}

void QrTaskPool::AddQuickTask(std::function<void()> func) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(func));
  }
  wake_.notify_one();
}

size_t QrTaskPool::WorkerCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return workers_.size();
}

void QrTaskPool::WorkerLoop() {
  for (;;) {
    std::function<void()> func;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty(); });
      func = std::move(queue_.front());
      queue_.pop_front();
    }
    func();
  }
}
