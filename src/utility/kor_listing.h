// Streams a listing to the front-end as intermediate messages of one command: a count message,
// then records in batches, each batch a JSON array sent as a compressed (type 0) attachment.
//
// Usage (stage numbers are the module's own):
//   KorListing listing(packet, uuid);
//   listing.SetInfo(KorCountInfo(total));            // optional: every message carries this info
//   if (int rc = listing.SendStage(1)) return rc;    // the count message, no attachment
//   KorRecordBatcher batch(&listing, /*stage=*/3, /*batch_size=*/50);
//   for (...) if (int rc = batch.Add(record_json)) return rc;   // sends each full batch
//   (or batch.AddWritten([&](std::string* text) { ...append one record... }))
//   if (int rc = batch.Flush()) return rc;                      // the last, partial batch
// Every send answers kKorStopped (6) once the command's task is stopped or gone, so a module can
// stop streaming; other send failures (no front-end connection) are not errors of the listing.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipc/ipc_packet.h"

class KorCompressionPipeline;
struct KorCompressedAttachment;

// {"Count":N}
std::string KorCountInfo(int64_t count);

class KorListing {
 public:
  KorListing(const kst::IPCPacket* packet, std::string uuid) : packet_(packet), uuid_(std::move(uuid)) {}

  // The info text every following message carries (none when unset).
  void SetInfo(std::optional<std::string> info) { info_ = std::move(info); }
  // The number the packet headers of the following messages carry in place of the command's own
  // (a listing of several groups names each group there); 0 goes back to the command's number.
  void SetGroup(uint32_t group) { group_ = group; }
  // A message without attachment.
  int SendStage(int32_t stage);
  // A message whose attachment is `json`, compressed on sending.
  int SendAttachment(int32_t stage, std::string_view json);
  // A message whose attachment was compressed ahead (the same zlib stream sending would make).
  int SendCompressed(int32_t stage, const std::vector<uint8_t>& zlib);
  // A message whose attachment is one JSON value written compactly.
  int SendValue(int32_t stage, const rapidjson::Value& value);
  bool Stopped() const;

 private:
  int Send(int32_t stage, const uint8_t* attachment, size_t length, bool compressed);

  const kst::IPCPacket* packet_;
  std::string uuid_;
  std::optional<std::string> info_;
  uint32_t group_ = 0;
};

// Sends the members of a JSON object in messages of at most `per_message` members, each message
// an object holding its members in their order; nothing when the object is empty.
int KorSendMemberChunks(KorListing* listing, int32_t stage, const rapidjson::Value& object, size_t per_message);
// The text of one such message: an object of the members first … first + count - 1 (fewer at the
// object's end).
std::string KorMemberChunkText(const rapidjson::Value& object, size_t first, size_t count);

// Collects records (JSON texts) into "[" + records joined by "," + "]" and sends each batch of
// `batch_size` records at the given stage.
class KorRecordBatcher {
 public:
  KorRecordBatcher(KorListing* listing, int32_t stage, size_t batch_size);
  ~KorRecordBatcher();

  // From now on full batches are compressed on worker threads while the next ones are built;
  // they are still sent in order, from this thread, and Flush() sends every one of them. For
  // long listings, where the level-9 compression costs more than the records.
  void CompressAhead();
  // Compressing ahead, sends nothing until Flush(): for a listing whose count message can only
  // be sent once its query has finished, while its records are written as the query steps.
  void HoldUntilFlush() { held_ = true; }

  int Add(std::string_view record_json);
  int Add(const rapidjson::Value& record);
  // Lets `write(std::string*)` append one record's JSON to the batch text in place, which saves a
  // copy per record in long listings.
  template <typename Write>
  int AddWritten(Write&& write) {
    OpenRecord();
    write(&text_);
    return CloseRecord();
  }
  // Sends what is collected and every batch still being compressed; nothing when all is sent.
  int Flush();
  size_t Pending() const { return count_; }

 private:
  void OpenRecord();
  int CloseRecord();
  // Sends (or, compressing ahead, submits) the collected batch.
  int SendBatch();
  int SendReady(size_t keep_in_flight);
  int Send(const KorCompressedAttachment& attachment);

  KorListing* listing_;
  int32_t stage_;
  size_t batch_size_;
  size_t count_ = 0;
  std::string text_;
  bool compress_ahead_ = false;
  bool held_ = false;
  std::unique_ptr<KorCompressionPipeline> pipeline_;  // made with the first full batch
  int failed_ = 0;  // the first send failure; later batches are dropped
};
