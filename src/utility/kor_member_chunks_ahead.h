// The member chunks of a JSON object that is still being collected (a listing the device sends in
// batches), compressed ahead: each chunk that has a full chunk after it is written and compressed
// on worker threads while the collection goes on, and a chunk changed after that is written
// again when sent. Send() then sends what KorSendMemberChunks would send for the final object.
//
// Usage (the collecting thread may differ from the sending one, never at the same time):
//   KorMemberChunksAhead ahead(100);
//   ... add or change member i of `object`: ahead.Touch(i); after a batch: ahead.Advance(object);
//   if (int rc = ahead.Send(&listing, stage, object)) return rc;
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class KorCompressionPipeline;
class KorListing;

class KorMemberChunksAhead {
 public:
  explicit KorMemberChunksAhead(size_t per_message);
  ~KorMemberChunksAhead();
  KorMemberChunksAhead(const KorMemberChunksAhead&) = delete;
  KorMemberChunksAhead& operator=(const KorMemberChunksAhead&) = delete;

  // Member `index` was added or changed.
  void Touch(size_t index);
  // Submits the chunks that are followed by a full chunk.
  void Advance(const rapidjson::Value& object);
  // Sends every chunk of the final object in order.
  int Send(KorListing* listing, int32_t stage, const rapidjson::Value& object);
  // Hands every chunk of the final object to `send` in order, compressed ahead (zlib set) or as
  // text; the first nonzero answer ends it and is returned.
  using ChunkSink = std::function<int(const std::string* text, const std::vector<uint8_t>* zlib)>;
  int ForEachChunk(const rapidjson::Value& object, const ChunkSink& send);

 private:
  size_t per_message_;
  std::vector<uint64_t> versions_;   // per chunk, raised by each Touch
  std::vector<uint64_t> submitted_;  // the version each submitted chunk was written at
  std::unique_ptr<KorCompressionPipeline> pipeline_;  // made with the first submission
};
