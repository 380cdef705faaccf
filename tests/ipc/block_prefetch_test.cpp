// Reading blocks ahead of their requests: order, jumps back and forth, errors and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ipc/file_block_prefetch.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kBufferSize = 16;
constexpr int64_t kBlocks = 8;

// A stand-in for the device file: block n holds kBufferSize bytes of value n (the last one is
// shorter). Records which blocks were read; blocks in `failing` fail once.
class FakeFile {
 public:
  FileBlockPrefetch::ReadFn Reader() {
    return [this](int64_t number, uint8_t* buffer) -> int64_t {
      std::this_thread::sleep_for(delay_);
      std::lock_guard<std::mutex> lock(mutex_);
      reads_.push_back(number);
      if (failing_.erase(number) != 0) return -1;
      int64_t length = number == kBlocks ? 5 : static_cast<int64_t>(kBufferSize);
      std::fill(buffer, buffer + length, static_cast<uint8_t>(number));
      return length;
    };
  }
  void FailOnce(int64_t number) { failing_.insert(number); }
  void SetDelay(std::chrono::milliseconds delay) { delay_ = delay; }
  std::vector<int64_t> Reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

 private:
  std::mutex mutex_;
  std::vector<int64_t> reads_;
  std::set<int64_t> failing_;
  std::chrono::milliseconds delay_{0};
};

// The bytes Take gives for `number`, or "error".
std::string TakeText(FileBlockPrefetch& prefetch, int64_t number) {
  const uint8_t* data = nullptr;
  int64_t length = prefetch.Take(number, &data);
  if (length < 0) return "error";
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

std::string BlockText(int64_t number) {
  return std::string(number == kBlocks ? 5 : kBufferSize, static_cast<char>(number));
}

TEST(FileBlockPrefetchTest, InOrderRequestsFindTheirBlocksReadAheadOnce) {
  FakeFile file;
  FileBlockPrefetch prefetch(kBlocks, kBufferSize, 2, file.Reader());
  prefetch.Start(1);
  for (int64_t n = 1; n <= kBlocks; ++n) EXPECT_EQ(TakeText(prefetch, n), BlockText(n)) << n;
  std::vector<int64_t> expected;
  for (int64_t n = 1; n <= kBlocks; ++n) expected.push_back(n);
  EXPECT_EQ(file.Reads(), expected);  // each block read once, in order, none past the end
}

// Waits until `count` blocks were read, then a little longer for any read too many.
size_t ReadsSettledAt(FakeFile& file, size_t count) {
  for (int i = 0; i < 400 && file.Reads().size() < count; ++i) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(50ms);
  return file.Reads().size();
}

TEST(FileBlockPrefetchTest, ReadsNoFurtherAheadThanItsDepth) {
  FakeFile file;
  FileBlockPrefetch prefetch(kBlocks, kBufferSize, 2, file.Reader());
  prefetch.Start(1);
  EXPECT_EQ(ReadsSettledAt(file, 2), 2u);
  EXPECT_EQ(TakeText(prefetch, 1), BlockText(1));
  EXPECT_EQ(ReadsSettledAt(file, 3), 3u);  // taking one frees room for one more
}

TEST(FileBlockPrefetchTest, JumpsAndResentRequestsGetTheRightBytes) {
  FakeFile file;
  FileBlockPrefetch prefetch(kBlocks, kBufferSize, 2, file.Reader());
  prefetch.Start(1);
  // Text order of block numbers, a resend, a jump back and a skip forward.
  for (int64_t n : {1, 3, 3, 2, 7, 8, 4, 1}) EXPECT_EQ(TakeText(prefetch, n), BlockText(n)) << n;
}

TEST(FileBlockPrefetchTest, AFailedReadIsReportedAndTheBlockCanBeAskedForAgain) {
  FakeFile file;
  file.FailOnce(3);
  FileBlockPrefetch prefetch(kBlocks, kBufferSize, 2, file.Reader());
  prefetch.Start(1);
  EXPECT_EQ(TakeText(prefetch, 1), BlockText(1));
  EXPECT_EQ(TakeText(prefetch, 2), BlockText(2));
  EXPECT_EQ(TakeText(prefetch, 3), "error");
  EXPECT_EQ(TakeText(prefetch, 3), BlockText(3));
  EXPECT_EQ(TakeText(prefetch, 4), BlockText(4));
}

TEST(FileBlockPrefetchTest, UnknownBlocksAreRefusedAtOnce) {
  FakeFile file;
  FileBlockPrefetch prefetch(kBlocks, kBufferSize, 2, file.Reader());
  EXPECT_EQ(TakeText(prefetch, 0), "error");
  EXPECT_EQ(TakeText(prefetch, kBlocks + 1), "error");
  EXPECT_EQ(TakeText(prefetch, -5), "error");
  EXPECT_TRUE(file.Reads().empty());  // not started, and nothing asked for exists
}

TEST(FileBlockPrefetchTest, EndsWhileAReadIsUnderWay) {
  FakeFile file;
  file.SetDelay(30ms);
  auto started = std::chrono::steady_clock::now();
  {
    FileBlockPrefetch prefetch(kBlocks, kBufferSize, 4, file.Reader());
    prefetch.Start(1);
    std::this_thread::sleep_for(10ms);
  }
  // The read in progress finishes; no further block is begun.
  EXPECT_LE(file.Reads().size(), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

}  // namespace
