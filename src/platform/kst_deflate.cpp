#include "platform/kst_deflate.h"

#include <libdeflate.h>

#include <memory>
#include <mutex>

namespace kst {

namespace {

// A compressor with its output buffer. Kept in a process-wide pool rather than per thread: the
// threads that compress a listing come and go with the listing, and a level-9 compressor's tables
// (and the pages they fault in) cost more to set up than to compress a batch.
struct Deflater {
  libdeflate_compressor* compressor = nullptr;
  int level = 0;
  std::unique_ptr<uint8_t[]> output;  // not zero-filled: only the written bytes are read
  size_t capacity = 0;

  ~Deflater() { libdeflate_free_compressor(compressor); }

  uint8_t* OutputOf(size_t size) {
    if (size > capacity) {
      output.reset(new uint8_t[size]);
      capacity = size;
    }
    return output.get();
  }

  void ReleaseOutput() {
    output.reset();
    capacity = 0;
  }
};

class DeflaterPool {
 public:
  std::unique_ptr<Deflater> Take(int level) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = idle_count_; i-- > 0;) {
        if (idle_[i]->level != level) continue;
        std::unique_ptr<Deflater> found = std::move(idle_[i]);
        idle_[i] = std::move(idle_[--idle_count_]);
        return found;
      }
    }
    auto deflater = std::make_unique<Deflater>();
    deflater->compressor = libdeflate_alloc_compressor(level);
    deflater->level = level;
    return deflater->compressor ? std::move(deflater) : nullptr;
  }

  void Give(std::unique_ptr<Deflater> deflater) {
    if (deflater->capacity > kKeepOutput) deflater->ReleaseOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_count_ < kKeep) idle_[idle_count_++] = std::move(deflater);
  }

 private:
  static constexpr size_t kKeep = 8;
  // An idle compressor keeps a listing batch's output buffer, not that of an occasional big file.
  static constexpr size_t kKeepOutput = 1 << 20;
  std::mutex mutex_;
  std::unique_ptr<Deflater> idle_[kKeep];
  size_t idle_count_ = 0;
};

DeflaterPool& Pool() {
  static DeflaterPool* pool = new DeflaterPool();  // never destroyed: compressing threads may outlive statics
  return *pool;
}

}  // namespace

bool DeflateZlibFormat(const uint8_t* data, size_t length, int level, std::vector<uint8_t>* out) {
  out->clear();
  std::unique_ptr<Deflater> deflater = Pool().Take(level);
  if (!deflater) return false;
  // The bound covers incompressible input, so a result of 0 cannot mean "did not fit".
  size_t bound = libdeflate_zlib_compress_bound(deflater->compressor, length);
  uint8_t* output = deflater->OutputOf(bound);
  size_t written = libdeflate_zlib_compress(deflater->compressor, length > 0 ? data : nullptr, length, output, bound);
  out->assign(output, output + written);
  Pool().Give(std::move(deflater));
  return written > 0;
}

}  // namespace kst
