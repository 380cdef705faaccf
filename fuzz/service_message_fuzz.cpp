// The receive loop of service messages over a stream that arrives in arbitrary pieces, and the
// readings of each received message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/mobile_export_fun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  size_t offset = 0;
  KorServiceIo io;
  io.send = [](const void*, size_t length) { return static_cast<int64_t>(length); };
  io.receive = [&](void* buffer, size_t wanted) -> int64_t {
    if (offset >= size) return 0;
    // The byte at the read position picks how much of the stream this call delivers.
    size_t piece = std::min<size_t>({wanted, size - offset, 1 + data[offset] % 64u});
    std::memcpy(buffer, data + offset, piece);
    offset += piece;
    return static_cast<int64_t>(piece);
  };
  KorReceiveMessages(io, [](const uint8_t* bytes, uint32_t length, int* continue_flag, int32_t* result) {
    if (framework) {
      KorMessageFirstValue(bytes, length);
      KorValue tree;
      KorMessageToValue(bytes, length, &tree);
    }
    *result += 1;
    *continue_flag = 1;
  });
  return 0;
}
