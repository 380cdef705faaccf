// Hands device replies to a module's reply handler on a thread of its own, strictly in the order
// they were queued, so that a session can answer the device while the handler is still taking
// an earlier reply (the device builds its next batch meanwhile instead of waiting). The replies
// come parsed or as the bytes that arrived; their parse and value trees are made on the worker's
// thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "iOSAPI/kor_cf.h"
#include "iOSAPI/kor_sync_session.h"

class KorSyncReplyWorker {
 public:
  // At most `bound` replies wait for the handler; Queue() blocks while that many do.
  KorSyncReplyWorker(KorSyncReplyHandler* handler, size_t bound);
  // Waits until the handler has taken every queued reply.
  ~KorSyncReplyWorker();
  KorSyncReplyWorker(const KorSyncReplyWorker&) = delete;
  KorSyncReplyWorker& operator=(const KorSyncReplyWorker&) = delete;

  // The handler gets the reply's value tree in `state`; what it sets in *again and *result is
  // not used. A reply whose tree cannot be made is left out.
  void Queue(int state, KorCFHolder reply);
  // The same for a reply still in the bytes it arrived in; one that does not parse is left out.
  void Queue(int state, std::vector<uint8_t> bytes);

 private:
  struct Reply {
    int state = 0;
    KorCFHolder parsed;
    std::vector<uint8_t> bytes;  // when not parsed yet
  };

  void Add(Reply reply);
  void Run();
  void Hand(Reply reply);

  KorSyncReplyHandler* handler_;
  size_t bound_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Reply> waiting_;
  bool closing_ = false;
  std::thread thread_;  // last: starts once the members it uses exist
};
