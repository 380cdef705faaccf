#include "ipc/file_block_prefetch.h"

FileBlockPrefetch::FileBlockPrefetch(int64_t last_number, size_t buffer_size, size_t depth, ReadFn read)
    : last_number_(last_number), buffer_size_(buffer_size), depth_(depth == 0 ? 1 : depth), read_(std::move(read)) {
  thread_ = std::thread([this] { Run(); });
}

FileBlockPrefetch::~FileBlockPrefetch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  // A read in progress is finished first: the thread works on the caller's file.
  thread_.join();
}

void FileBlockPrefetch::Start(int64_t first) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (first >= 1 && first <= last_number_) Restart(first);
}

std::vector<uint8_t> FileBlockPrefetch::SpareBuffer() {
  if (spare_.empty()) return std::vector<uint8_t>(buffer_size_);
  std::vector<uint8_t> buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

void FileBlockPrefetch::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || (next_ != 0 && ready_.size() < depth_); });
    if (stop_) return;
    Slot slot;
    slot.number = next_;
    slot.bytes = SpareBuffer();
    next_ = next_ < last_number_ ? next_ + 1 : 0;
    reading_ = slot.number;
    const uint64_t generation = generation_;
    lock.unlock();
    slot.length = read_(slot.number, slot.bytes.data());
    lock.lock();
    reading_ = 0;
    if (generation != generation_) {
      spare_.push_back(std::move(slot.bytes));
    } else {
      // After an error the stream stops; the request that meets it reports it.
      if (slot.length < 0) next_ = 0;
      ready_.push_back(std::move(slot));
    }
    changed_.notify_all();
  }
}

bool FileBlockPrefetch::OnStream(int64_t number) const {
  if (number == reading_ || number == next_) return true;
  for (const Slot& slot : ready_) {
    if (slot.number == number) return true;
  }
  return false;
}

void FileBlockPrefetch::Restart(int64_t number) {
  for (Slot& slot : ready_) spare_.push_back(std::move(slot.bytes));
  ready_.clear();
  ++generation_;
  reading_ = 0;
  next_ = number;
  changed_.notify_all();
}

int64_t FileBlockPrefetch::Take(int64_t number, const uint8_t** data) {
  if (number < 1 || number > last_number_) return -1;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!handed_.empty()) spare_.push_back(std::move(handed_));
  for (;;) {
    // Blocks the front-end passed over are not wanted any more.
    while (!ready_.empty() && ready_.front().number != number && OnStream(number)) {
      spare_.push_back(std::move(ready_.front().bytes));
      ready_.pop_front();
    }
    if (!ready_.empty() && ready_.front().number == number) break;
    if (!OnStream(number)) Restart(number);
    changed_.wait(lock);
  }
  Slot slot = std::move(ready_.front());
  ready_.pop_front();
  changed_.notify_all();
  handed_ = std::move(slot.bytes);
  *data = handed_.data();
  return slot.length;
}
