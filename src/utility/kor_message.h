// The one kind of message the program sends: a packet header plus a message record whose text
// is "1", 0x00, {"stage","code","uuid","type"[,"info"]}, 0x00, then the attachment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Header status values.
enum KorHeaderStatus : uint16_t {
  kKorStatusDone = 1,
  kKorStatusIntermediate = 2,
  kKorStatusStopped = 5,
  kKorStatusFailed = 6,
};

// Result codes shared by every module.
enum KorResultCode : int32_t {
  kKorOk = 0,
  kKorStopped = 6,
  kKorNoDevice = 7,
  kKorBadParameters = 8,
  kKorNoAfcService = 12,
  kKorBadJson = 21,
  // A message of the command could not be built (its text would exceed the 16-bit text length)
  // or sent (the link refused it); the command ends with this code.
  kKorMessageNotSent = 80,
};

// Message types: 0 compresses the attachment on sending; anything else sends it as it is.
constexpr int32_t kKorMessageTypeCompressed = 0;
constexpr int32_t kKorMessageTypeRaw = 1;

// The largest message text (format number, JSON and both 0x00 bytes) a packet can carry.
constexpr size_t kKorMaxMessageText = 65535;

struct KorPacketHeader {
  uint64_t task_id = 0;
  uint16_t status = kKorStatusIntermediate;
  uint32_t command = 0;
};

struct KorMessage {
  int32_t format = 1;
  int32_t stage = 0;
  int32_t code = 0;
  std::string uuid;
  int32_t type = kKorMessageTypeCompressed;
  std::optional<std::string> info;
  const uint8_t* attachment = nullptr;  // not owned
  uint64_t attachment_length = 0;
  // The attachment of a type-0 message is already its zlib stream (compressed ahead of sending).
  bool attachment_compressed = false;
};

// The final status for a result code: 0 → 1, 6 → 5, anything else → 6.
uint16_t KorStatusForCode(int32_t code);
// The JSON object of a message; "info" only when the info text parses as JSON.
std::string KorMessageJson(const KorMessage& message);
// The whole message text; empty when it would not fit the 16-bit text length.
std::string KorMessageText(const KorMessage& message);
// The zlib stream (level 9) of a type-0 attachment, from whichever compressor is faster for it.
bool KorCompressAttachment(const uint8_t* data, size_t length, std::vector<uint8_t>* out);
bool KorMessageTextFits(const KorMessage& message);
// Replaces a type-0 attachment by its level-9 zlib compression; `storage` owns the result.
void KorPrepareAttachment(KorMessage* message, std::vector<uint8_t>* storage);
