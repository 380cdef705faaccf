#include "iOSAPI/kor_sync_reply_worker.h"

#include <algorithm>

#include "iOSAPI/kor_device_link.h"
#include "iOSAPI/kor_service_message.h"
#include "platform/kst_log.h"

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

void KorSyncReplyWorker::Queue(int state, KorCFHolder reply) {
  Reply queued;
  queued.state = state;
  queued.parsed = std::move(reply);
  Add(std::move(queued));
}

void KorSyncReplyWorker::Queue(int state, std::vector<uint8_t> bytes) {
  Reply queued;
  queued.state = state;
  queued.bytes = std::move(bytes);
  Add(std::move(queued));
}

void KorSyncReplyWorker::Add(Reply reply) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.size() < bound_; });
  waiting_.push_back(std::move(reply));
  lock.unlock();
  changed_.notify_all();
}

void KorSyncReplyWorker::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
    // Closing still hands over what was queued before.
    if (waiting_.empty()) return;
    Reply next = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    changed_.notify_all();
    Hand(std::move(next));
    lock.lock();
  }
}

// The reply and its tree are released here, off the session's thread, too.
void KorSyncReplyWorker::Hand(Reply reply) {
  const int state = reply.state;
  if (!reply.parsed) {
    reply.parsed = KorMessageToPropertyList(reply.bytes.data(), static_cast<uint32_t>(reply.bytes.size()));
    std::vector<uint8_t>().swap(reply.bytes);
    if (!reply.parsed) {
      KLOG(WARNING) << "sync reply in state " << state << " does not parse; left out";
      return;
    }
  }
  KorValue tree;
  if (!KorDLDecodeParsed(reply.parsed, &tree)) {
    KLOG(WARNING) << "sync reply in state " << state << " parsed but gave no value tree; left out";
    return;
  }
  reply.parsed.Reset();
  bool again = false;
  int32_t result = 0;
  handler_->OnReply(state, tree, &again, &result);
}
