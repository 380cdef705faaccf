// Messages whose sender must never wait on the front-end's socket (device events, raised on the
// device framework's notification thread and under the device monitor's lock): they are queued
// here and sent in order by a thread of their own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "utility/kor_message.h"

class KorOutbox {
 public:
  using SendFunction = std::function<int(const KorPacketHeader& header, KorMessage message)>;

  explicit KorOutbox(SendFunction send);
  ~KorOutbox();
  KorOutbox(const KorOutbox&) = delete;
  KorOutbox& operator=(const KorOutbox&) = delete;

  // Queues a copy of the message (attachment included) and returns at once.
  void Post(const KorPacketHeader& header, const KorMessage& message);
  // Ends the sending thread; messages still queued are dropped (the link is closing).
  void Stop();

 private:
  struct Entry {
    KorPacketHeader header;
    KorMessage message;
    std::vector<uint8_t> attachment;
  };

  void SendLoop();

  SendFunction send_;
  std::mutex mutex_;
  std::condition_variable signal_;
  std::deque<Entry> queue_;
  bool stopping_ = false;
  std::thread thread_;
};
