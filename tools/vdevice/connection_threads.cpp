#include "connection_threads.h"

#include "log.h"

namespace vdevice {

namespace {

// How often an idle accept loop looks at the stop flag.
constexpr int kAcceptPollMs = 100;

}  // namespace

void ConnectionThreads::Start(kst::KstSocket socket, Work work) {
  std::lock_guard<std::mutex> lock(mutex_);
  ReapFinished();
  auto entry = std::make_unique<Entry>();
  entry->socket = std::move(socket);
  Entry* raw = entry.get();
  entry->thread = std::thread([raw, work = std::move(work)] {
    work(raw->socket);
    raw->socket.Shutdown();
    raw->done.store(true);
  });
  entries_.push_back(std::move(entry));
}

void ConnectionThreads::ReapFinished() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

void ConnectionThreads::StopAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& entry : entries_) entry->socket.Shutdown();
  for (auto& entry : entries_) entry->thread.join();
  entries_.clear();
}

size_t ConnectionThreads::Running() {
  std::lock_guard<std::mutex> lock(mutex_);
  ReapFinished();
  return entries_.size();
}

void AcceptUntilStopped(const kst::KstSocket& listener, ConnectionThreads& threads,
                        const ConnectionThreads::Work& work, const std::atomic<bool>& stopping) {
  while (!stopping.load()) {
    if (!listener.WaitReadable(kAcceptPollMs)) continue;
    kst::KstSocket client = kst::Accept(listener);
    if (!client.Valid()) {
      if (!stopping.load()) LogLine("accept failed; listener closed");
      return;
    }
    threads.Start(std::move(client), work);
  }
}

}  // namespace vdevice
