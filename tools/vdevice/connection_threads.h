// One thread per accepted connection, each owning its socket. Finished threads are joined as
// new ones start; StopAll cuts every socket and joins what is left.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/kst_socket.h"

namespace vdevice {

class ConnectionThreads {
 public:
  using Work = std::function<void(kst::KstSocket& socket)>;

  ~ConnectionThreads() { StopAll(); }
  void Start(kst::KstSocket socket, Work work);
  void StopAll();
  size_t Running();

 private:
  struct Entry {
    kst::KstSocket socket;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void ReapFinished();

  std::mutex mutex_;
  std::list<std::unique_ptr<Entry>> entries_;
};

// Accepts connections until `stopping` is set, handing each to `threads` with `work`.
void AcceptUntilStopped(const kst::KstSocket& listener, ConnectionThreads& threads,
                        const ConnectionThreads::Work& work, const std::atomic<bool>& stopping);

}  // namespace vdevice
