#include "iOSAPI/kor_buffered_io.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ReadAhead {
  KorServiceIo io;
  std::vector<uint8_t> buffer;
  size_t begin = 0;
  size_t end = 0;

  int64_t Receive(void* destination, size_t wanted) {
    if (wanted == 0) return 0;
    if (begin == end) {
      // Large reads skip the buffer: no copy for bulk data.
      if (wanted >= buffer.size() / 2) return io.receive(destination, wanted);
      const int64_t got = io.receive(buffer.data(), buffer.size());
      if (got < 1) return got;
      begin = 0;
      end = static_cast<size_t>(got);
    }
    const size_t count = std::min(wanted, end - begin);
    std::memcpy(destination, buffer.data() + begin, count);
    begin += count;
    return static_cast<int64_t>(count);
  }
};

}  // namespace

KorServiceIo KorBufferedReceiveIo(KorServiceIo io, size_t buffer_bytes) {
  auto state = std::make_shared<ReadAhead>();
  state->buffer.resize(std::max<size_t>(buffer_bytes, 16));
  KorServiceIo buffered;
  buffered.send = io.send;
  state->io = std::move(io);
  buffered.receive = [state](void* destination, size_t wanted) { return state->Receive(destination, wanted); };
  return buffered;
}
