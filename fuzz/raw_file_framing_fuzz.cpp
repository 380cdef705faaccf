// The raw file framing of DeviceLink uploads over a stream that arrives in arbitrary pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_stream_io.h"
#include "iOSAPI/kor_device_link_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset = 0;
  KorServiceIo io = FuzzStreamIo(data, size, &offset);
  KorDLFileReader reader(io);
  for (;;) {
    std::string name;
    bool too_long = false;
    if (reader.ReadName(&name, &too_long) != KorDLRead::kOk) break;
    if (name.size() > kKorDLMaxName || (too_long && !name.empty())) std::abort();
    KorDLFileEnd end;
    size_t received = 0;
    const KorDLRead read = reader.ReadData(
        [&received](const uint8_t*, size_t length) {
          if (length == 0 || length > kKorDLFilePiece) std::abort();
          received += length;
          return true;
        },
        &end);
    if (end.text.size() > kKorDLMaxErrorText || received > size) std::abort();
    if (read != KorDLRead::kOk) break;
  }
  return 0;
}
