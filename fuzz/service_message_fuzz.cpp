// The receive loop of service messages over a stream that arrives in arbitrary pieces, and the
// readings of each received message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_stream_io.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/mobile_export_fun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  size_t offset = 0;
  KorServiceIo io = FuzzStreamIo(data, size, &offset);
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
