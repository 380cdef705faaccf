#include "utility/module/media/kor_media_path_checker.h"

#include "utility/ios/kor_device_handles.h"
#include "utility/module/media/kor_media_device_paths.h"

namespace {

// Look-ups a worker claims at a time: enough to make claiming cheap beside the round trips, few
// enough that the sender does not wait behind a long claim.
constexpr size_t kClaim = 16;
// Connections looking up at once, the command's own included: each look-up is a short round trip,
// so a few connections keep the device answering while this side waits; more than a few only
// compete for the same processors.
constexpr size_t kConnections = 4;

}  // namespace

KorMediaPathChecker::KorMediaPathChecker(AFCConnectionRef afc, AMDeviceRef device) {
  workers_.emplace_back([this, afc] { Work(afc); });
  for (size_t i = 1; i < kConnections && device; ++i) {
    workers_.emplace_back([this, device] { WorkOnOwnService(device); });
  }
}

KorMediaPathChecker::~KorMediaPathChecker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  queued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void KorMediaPathChecker::Add(KorMediaItem* item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    item->path_ticket = lookups_.size();
    lookups_.emplace_back();
    lookups_.back().path = item->path;
  }
  queued_.notify_one();
}

void KorMediaPathChecker::Apply(KorMediaItem* item) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (item->path_ticket >= lookups_.size()) {
    item->path = KorMediaDevicePath(item->path);
    return;
  }
  const Lookup& lookup = lookups_[item->path_ticket];
  checked_.wait(lock, [&lookup] { return lookup.done; });
  item->path = lookup.path;
  if (lookup.regular) item->file_size = lookup.size;
}

size_t KorMediaPathChecker::Claim(Lookup** claimed, size_t capacity) {
  std::unique_lock<std::mutex> lock(mutex_);
  queued_.wait(lock, [this] { return stop_ || next_ < lookups_.size(); });
  size_t count = 0;
  while (!stop_ && count < capacity && next_ < lookups_.size()) claimed[count++] = &lookups_[next_++];
  return count;
}

void KorMediaPathChecker::Work(AFCConnectionRef afc) {
  Lookup* claimed[kClaim];
  while (size_t count = Claim(claimed, kClaim)) {
    for (size_t i = 0; i < count; ++i) {
      Lookup* lookup = claimed[i];
      lookup->path = KorMediaDevicePath(lookup->path);
      lookup->regular = KorRegularFileSize(afc, lookup->path, &lookup->size);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; i < count; ++i) claimed[i]->done = true;
    }
    checked_.notify_all();
  }
}

void KorMediaPathChecker::WorkOnOwnService(AMDeviceRef device) {
  int result = 0;
  std::shared_ptr<KorDeviceService> service = KorDeviceHandles::Get().StartPrivateAfc(device, &result);
  if (service && service->Afc()) Work(service->Afc());
}
