#include "utility/ios/kor_outbox.h"

KorOutbox::KorOutbox(SendFunction send) : send_(std::move(send)) {
  thread_ = std::thread([this] { SendLoop(); });
}

KorOutbox::~KorOutbox() { Stop(); }

void KorOutbox::Post(const KorPacketHeader& header, const KorMessage& message) {
  Entry entry{header, message, {}};
  if (message.attachment && message.attachment_length > 0) {
    entry.attachment.assign(message.attachment, message.attachment + message.attachment_length);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    queue_.push_back(std::move(entry));
  }
  signal_.notify_one();
}

void KorOutbox::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  signal_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void KorOutbox::SendLoop() {
  for (;;) {
    Entry entry;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      signal_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      entry = std::move(queue_.front());
      queue_.pop_front();
    }
    // The copy owns the bytes now; the record points at them.
    entry.message.attachment = entry.attachment.empty() ? nullptr : entry.attachment.data();
    entry.message.attachment_length = entry.attachment.size();
    send_(entry.header, entry.message);
  }
}
