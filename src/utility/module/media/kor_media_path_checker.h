// Looks up the device files of a listing's items while the listing is still being read and sent:
// a small fixed pool of workers, each on an AFC connection of its own, takes the paths in batches
// in the order they are added and sends each batch's requests to the device together, so the
// sender only waits when it catches up with the look-ups.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "utility/module/media/kor_media_records.h"

class KorMediaPathChecker {
 public:
  // Starts the workers at once: one on `afc`, the command's own connection, the others on AFC
  // services of `device` they start for themselves (so their start overlaps the reading). A worker
  // whose service does not start leaves its share to the others.
  KorMediaPathChecker(AFCConnectionRef afc, AMDeviceRef device);
  // Stops the workers after their current look-up.
  ~KorMediaPathChecker();
  KorMediaPathChecker(const KorMediaPathChecker&) = delete;
  KorMediaPathChecker& operator=(const KorMediaPathChecker&) = delete;

  // Queues the look-up of the item's path and notes its ticket in the item. Look-ups go out once a
  // batch of them is queued, or once the sender asks for one of them.
  void Add(KorMediaItem* item);
  // Waits for the item's look-up and applies it: the path as the device names it and, when it is
  // a regular file, the file's size on the device. Any other item keeps its database size (the
  // front-end still sees it, and fetching it will tell).
  void Apply(KorMediaItem* item);

 private:
  struct Lookup {
    std::string path;
    int64_t size = 0;
    bool regular = false;
    bool done = false;  // under mutex_
  };

  void Work(AFCConnectionRef afc);
  void WorkOnOwnService(AMDeviceRef device);
  // Waits for queued look-ups and claims a batch of them; false (none claimed) once stopping.
  bool Claim(std::vector<Lookup*>* claimed);

  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable checked_;
  std::deque<Lookup> lookups_;  // grows at the back only, so claimed entries stay where they are
  size_t next_ = 0;             // the first look-up no worker has claimed
  // Look-ups before this one are wanted now: the sender waits for one of them. Until then a
  // worker waits for a whole claim to be queued, so that the claims stay large.
  size_t wanted_ = 0;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};
