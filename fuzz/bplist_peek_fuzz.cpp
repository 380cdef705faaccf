// The early look at a synchronisation reply's bytes, with the fuzzer as the device: whatever the
// trailer, offset table, counts and string lengths say, it reads only inside the bytes.
#include <cstddef>
#include <cstdint>

#include "iOSAPI/kor_bplist_peek.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KorBplistTopArray peek = KorPeekBplistTopArray(data, size, "SDMessageProcessChanges");
  if (peek.holds_name && !peek.is_array) __builtin_trap();
  return 0;
}
