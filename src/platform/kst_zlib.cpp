#include "platform/kst_zlib.h"

#include <zlib.h>

#include <limits>

namespace kst {

namespace {

// One compressor per thread and level, reset between uses: setting up a level-9 stream costs
// more than compressing a small message.
class ThreadCompressor {
 public:
  ~ThreadCompressor() {
    if (ready_) deflateEnd(&stream_);
  }
  z_stream* Get(int level) {
    if (ready_ && level_ == level) {
      deflateReset(&stream_);
      return &stream_;
    }
    if (ready_) deflateEnd(&stream_);
    stream_ = z_stream{};
    ready_ = deflateInit(&stream_, level) == Z_OK;
    level_ = level;
    return ready_ ? &stream_ : nullptr;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  int level_ = 0;
};

}  // namespace

bool ZlibCompress(const uint8_t* data, size_t length, int level, std::vector<uint8_t>* out) {
  out->clear();
  if (length > std::numeric_limits<uInt>::max()) return false;
  thread_local ThreadCompressor compressor;
  z_stream* stream = compressor.Get(level);
  if (!stream) return false;
  out->resize(deflateBound(stream, static_cast<uLong>(length)));
  stream->next_in = const_cast<Bytef*>(data);
  stream->avail_in = static_cast<uInt>(length);
  stream->next_out = out->data();
  stream->avail_out = static_cast<uInt>(out->size());
  int rc = deflate(stream, Z_FINISH);
  out->resize(stream->total_out);
  return rc == Z_STREAM_END;
}

namespace {

// One inflate run of the stream format that `window_bits` selects (zlib or gzip), capped.
bool InflateCapped(const uint8_t* data, size_t length, size_t max_output, int window_bits, std::string* out) {
  out->clear();
  if (!data || length == 0 || length > std::numeric_limits<uInt>::max()) return false;
  z_stream stream{};
  if (inflateInit2(&stream, window_bits) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(length);
  char piece[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(piece);
    stream.avail_out = sizeof(piece);
    rc = inflate(&stream, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    size_t produced = sizeof(piece) - stream.avail_out;
    if (out->size() + produced > max_output) {
      rc = Z_BUF_ERROR;
      break;
    }
    out->append(piece, produced);
    if (rc == Z_OK && produced == 0 && stream.avail_in == 0) {
      rc = Z_DATA_ERROR;  // input ended before the stream did
    }
  }
  inflateEnd(&stream);
  if (rc != Z_STREAM_END) out->clear();
  return rc == Z_STREAM_END;
}

}  // namespace

bool ZlibDecompress(const uint8_t* data, size_t length, size_t max_output, std::string* out) {
  return InflateCapped(data, length, max_output, MAX_WBITS, out);
}

bool GzipDecompress(const uint8_t* data, size_t length, size_t max_output, std::string* out) {
  return InflateCapped(data, length, max_output, MAX_WBITS + 16, out);
}

}  // namespace kst
