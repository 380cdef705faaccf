#include "iOSAPI/kor_sync_reply_worker.h"

#include <algorithm>

KorSyncReplyWorker::KorSyncReplyWorker(KorSyncReplyHandler* handler, size_t bound)
    : handler_(handler), bound_(std::max<size_t>(bound, 1)), thread_([this] { Run(); }) {}

KorSyncReplyWorker::~KorSyncReplyWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void KorSyncReplyWorker::Queue(int state, KorValue reply) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.size() < bound_; });
  waiting_.emplace_back(state, std::move(reply));
  lock.unlock();
  changed_.notify_all();
}

void KorSyncReplyWorker::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
    // Closing still hands over what was queued before.
    if (waiting_.empty()) return;
    std::pair<int, KorValue> next = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    changed_.notify_all();
    bool again = false;
    int32_t result = 0;
    handler_->OnReply(next.first, next.second, &again, &result);
    // The reply's values are released here, off the session's thread, too.
    next.second = KorValue();
    lock.lock();
  }
}
