#include "utility/module/media/kor_media_path_checker.h"

#include "utility/ios/kor_device_handles.h"
#include "utility/module/media/kor_media_device_paths.h"

namespace {

// Look-ups a worker claims at a time. They go to the device together, several requests in flight,
// so a large claim keeps the device busy; small enough that the sender, which waits for the items
// in the order they were added, is not held long behind one claim.
constexpr size_t kClaim = 128;
// Connections looking up at once, the command's own included. With the requests of a claim in
// flight together, one connection keeps the device nearly busy; a second one covers the moments
// between two claims of the first.
constexpr size_t kConnections = 2;

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
  bool claim_due = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    item->path_ticket = lookups_.size();
    lookups_.emplace_back();
    lookups_.back().path = item->path;
    claim_due = lookups_.size() - next_ == kClaim;
  }
  if (claim_due) queued_.notify_one();
}

void KorMediaPathChecker::Apply(KorMediaItem* item) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (item->path_ticket >= lookups_.size()) {
    item->path = KorMediaDevicePath(item->path);
    return;
  }
  // The sender waits for this one: whatever is queued up to it is worth claiming now.
  if (item->path_ticket >= next_ && item->path_ticket >= wanted_) {
    wanted_ = item->path_ticket + 1;
    queued_.notify_all();
  }
  const Lookup& lookup = lookups_[item->path_ticket];
  checked_.wait(lock, [&lookup] { return lookup.done; });
  item->path = lookup.path;
  if (lookup.regular) item->file_size = lookup.size;
}

bool KorMediaPathChecker::Claim(std::vector<Lookup*>* claimed) {
  claimed->clear();
  std::unique_lock<std::mutex> lock(mutex_);
  queued_.wait(lock, [this] { return stop_ || lookups_.size() - next_ >= kClaim || wanted_ > next_; });
  while (!stop_ && claimed->size() < kClaim && next_ < lookups_.size()) claimed->push_back(&lookups_[next_++]);
  return !claimed->empty();
}

void KorMediaPathChecker::Work(AFCConnectionRef afc) {
  std::vector<Lookup*> claimed;
  std::vector<std::string> paths;
  while (Claim(&claimed)) {
    paths.clear();
    for (Lookup* lookup : claimed) {
      lookup->path = KorMediaDevicePath(lookup->path);
      paths.push_back(lookup->path);
    }
    std::vector<std::optional<int64_t>> sizes = KorRegularFileSizes(afc, paths);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; i < claimed.size(); ++i) {
        claimed[i]->regular = sizes[i].has_value();
        claimed[i]->size = sizes[i].value_or(0);
        claimed[i]->done = true;
      }
    }
    checked_.notify_all();
  }
}

void KorMediaPathChecker::WorkOnOwnService(AMDeviceRef device) {
  int result = 0;
  std::shared_ptr<KorDeviceService> service = KorDeviceHandles::Get().StartPrivateAfc(device, &result);
  if (service && service->Afc()) Work(service->Afc());
}
