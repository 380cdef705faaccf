// Reads numbered blocks ahead of their requests on a thread of its own, so that the device is
// read while the block before travels to the front-end. The stream runs forward in block-number
// order from the last block asked for; a request off the stream restarts it there.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class FileBlockPrefetch {
 public:
  // Fills `buffer` (of the size given at construction) with block `number`; returns the count
  // placed, or -1 on an error. Called on the prefetch thread only.
  using ReadFn = std::function<int64_t(int64_t number, uint8_t* buffer)>;

  // Blocks are numbered 1..`last_number`; at most `depth` read blocks wait to be taken.
  FileBlockPrefetch(int64_t last_number, size_t buffer_size, size_t depth, ReadFn read);
  ~FileBlockPrefetch();
  FileBlockPrefetch(const FileBlockPrefetch&) = delete;
  FileBlockPrefetch& operator=(const FileBlockPrefetch&) = delete;

  // Starts streaming at block `first` before any request arrives.
  void Start(int64_t first);
  // Waits for block `number` and points `*data` at its bytes, valid until the next Take or the
  // end of this object. Returns the count, or -1 when the block is unknown or could not be read.
  int64_t Take(int64_t number, const uint8_t** data);

 private:
  struct Slot {
    int64_t number = 0;
    std::vector<uint8_t> bytes;
    int64_t length = 0;
  };

  void Run();
  // True when block `number` is read, being read, or the next one the thread reads.
  bool OnStream(int64_t number) const;
  // Drops what was read ahead and points the thread at `number`.
  void Restart(int64_t number);
  std::vector<uint8_t> SpareBuffer();

  const int64_t last_number_;
  const size_t buffer_size_;
  const size_t depth_;
  const ReadFn read_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Slot> ready_;                   // read, in stream order
  std::vector<std::vector<uint8_t>> spare_;  // buffers to read into
  std::vector<uint8_t> handed_;              // the bytes the last Take pointed at
  int64_t next_ = 0;                         // the block the thread reads next; 0 = none
  int64_t reading_ = 0;                      // the block being read now; 0 = none
  uint64_t generation_ = 0;                  // a read begun before a restart is thrown away
  bool stop_ = false;
  std::thread thread_;
};
