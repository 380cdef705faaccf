// Feeds arbitrary chunk sequences to the packet reassembly and checks what it delivers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ipc/ipc_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::IPCPacketAssembler assembler;
  size_t offset = 0;
  while (offset < size) {
    // The first byte of each step chooses the chunk length, so chunk boundaries vary too.
    size_t chunk = 1 + data[offset] % 97;
    ++offset;
    if (chunk > size - offset) chunk = size - offset;
    assembler.Feed(data + offset, chunk, [](const kst::PacketHeader& header, const uint8_t* payload) {
      if (header.length > kst::kMaxPacketPayload) std::abort();
      kst::IPCPacketPtr packet(kst::IPCPacketCreate(header, payload, nullptr));
      if (packet && header.length > 0 && packet->payload[header.length] != 0) std::abort();
    });
    offset += chunk;
  }
  return 0;
}
