// Builds packets as the front-end writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipc/ipc_packet.h"

inline std::string MakePacket(uint64_t task, uint32_t command, const std::string& payload, uint16_t status = 0) {
  uint8_t header[kst::kPacketHeaderSize];
  kst::EncodePacketHeader(kst::PacketHeader{task, command, status, payload.size()}, header);
  return std::string(reinterpret_cast<const char*>(header), sizeof(header)) + payload;
}
