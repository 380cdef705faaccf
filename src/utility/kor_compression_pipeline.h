// Compresses a listing's attachments (level-9 zlib streams) on worker threads while the listing
// thread builds the next ones, and hands them back strictly in the order they were submitted, so
// the messages keep their order and all of them are out before the command's final reply.
//
// Usage:
//   KorCompressionPipeline pipeline(KorCompressionPipeline::DefaultWorkers());
//   pipeline.Submit(std::move(batch_text));
//   while (pipeline.OldestReady()) send(pipeline.TakeOldest());
//   ... at the end: while (pipeline.InFlight() > 0) send(pipeline.TakeOldest());
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct KorCompressedAttachment {
  bool compressed = false;       // false: compression failed; `text` is still there to send
  std::vector<uint8_t> zlib;     // the attachment's zlib stream
  std::string text;              // the submitted text (emptied once compressed)
};

class KorCompressionPipeline {
 public:
  // At least one worker; the thread that waits in TakeOldest compresses too. Workers `yielding`
  // run at a lower priority than the process's other threads: for work done ahead of time,
  // which should take only what those leave.
  explicit KorCompressionPipeline(size_t workers, bool yielding = false);
  ~KorCompressionPipeline();
  KorCompressionPipeline(const KorCompressionPipeline&) = delete;
  KorCompressionPipeline& operator=(const KorCompressionPipeline&) = delete;

  // One worker per processor, at most four.
  static size_t DefaultWorkers();

  void Submit(std::string text);
  size_t InFlight() const;
  bool OldestReady() const;
  // The oldest submission once compressed; while it waits, the calling thread compresses queued
  // ones itself rather than idle. Only when InFlight() > 0.
  KorCompressedAttachment TakeOldest();

 private:
  enum class State { kQueued, kRunning, kDone };
  struct Job {
    State state = State::kQueued;
    KorCompressedAttachment result;
  };

  // The oldest queued job, marked running; null when none. Needs mutex_.
  std::shared_ptr<Job> ClaimQueued();
  void Compress(const std::shared_ptr<Job>& job);
  void WorkerLoop(bool yielding);

  mutable std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Job>> jobs_;  // submission order
  bool quitting_ = false;
  std::vector<std::thread> workers_;
};
