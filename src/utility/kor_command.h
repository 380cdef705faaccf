// Reading a command packet: the format number, the JSON text and the attachment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ipc/ipc_packet.h"

struct KorCommandPayload {
  int format = 0;
  const char* json = nullptr;  // not NUL-terminated when an attachment follows; use json_length
  size_t json_length = 0;
  const uint8_t* attachment = nullptr;
  size_t attachment_length = 0;
};

// Splits the payload at its 0x00 bytes. Never reads past the packet's length.
KorCommandPayload KorParseCommandPayload(const kst::IPCPacket* packet);

// The task ID text of a packet: its 64-bit task ID in unsigned decimal.
std::string KorTaskIdText(const kst::IPCPacket* packet);

// The largest command attachment that is inflated.
constexpr size_t kKorMaxInflatedAttachment = 64u * 1024 * 1024;
// Inflates a command's zlib-compressed attachment; false when it is missing or corrupt.
bool KorInflateAttachment(const KorCommandPayload& payload, std::string* out);
