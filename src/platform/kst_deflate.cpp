#include "platform/kst_deflate.h"

#include <libdeflate.h>

namespace kst {

namespace {

// One compressor per thread and level: its tables are allocated once rather than per message.
class ThreadDeflater {
 public:
  ~ThreadDeflater() { libdeflate_free_compressor(compressor_); }
  libdeflate_compressor* Get(int level) {
    if (compressor_ && level_ == level) return compressor_;
    libdeflate_free_compressor(compressor_);
    compressor_ = libdeflate_alloc_compressor(level);
    level_ = level;
    return compressor_;
  }

 private:
  libdeflate_compressor* compressor_ = nullptr;
  int level_ = 0;
};

}  // namespace

bool DeflateZlibFormat(const uint8_t* data, size_t length, int level, std::vector<uint8_t>* out) {
  out->clear();
  thread_local ThreadDeflater deflater;
  libdeflate_compressor* compressor = deflater.Get(level);
  if (!compressor) return false;
  // The bound covers incompressible input, so a result of 0 cannot mean "did not fit".
  out->resize(libdeflate_zlib_compress_bound(compressor, length));
  size_t written = libdeflate_zlib_compress(compressor, length > 0 ? data : nullptr, length, out->data(), out->size());
  out->resize(written);
  return written > 0;
}

}  // namespace kst
