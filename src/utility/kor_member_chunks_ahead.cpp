#include "utility/kor_member_chunks_ahead.h"

#include "utility/kor_compression_pipeline.h"
#include "utility/kor_listing.h"

KorMemberChunksAhead::KorMemberChunksAhead(size_t per_message) : per_message_(per_message == 0 ? 1 : per_message) {}

KorMemberChunksAhead::~KorMemberChunksAhead() = default;

void KorMemberChunksAhead::Touch(size_t index) {
  const size_t chunk = index / per_message_;
  if (versions_.size() <= chunk) versions_.resize(chunk + 1, 0);
  ++versions_[chunk];
}

void KorMemberChunksAhead::Advance(const rapidjson::Value& object) {
  if (!object.IsObject()) return;
  while ((submitted_.size() + 2) * per_message_ <= object.MemberCount()) {
    const size_t chunk = submitted_.size();
    if (!pipeline_) pipeline_ = std::make_unique<KorCompressionPipeline>(KorCompressionPipeline::DefaultWorkers(), true);
    pipeline_->Submit(KorMemberChunkText(object, chunk * per_message_, per_message_));
    submitted_.push_back(chunk < versions_.size() ? versions_[chunk] : 0);
  }
}

int KorMemberChunksAhead::Send(KorListing* listing, int32_t stage, const rapidjson::Value& object) {
  return ForEachChunk(object, [listing, stage](const std::string* text, const std::vector<uint8_t>* zlib) {
    return zlib ? listing->SendCompressed(stage, *zlib) : listing->SendAttachment(stage, *text);
  });
}

int KorMemberChunksAhead::ForEachChunk(const rapidjson::Value& object, const ChunkSink& send) {
  if (!object.IsObject()) return 0;
  for (size_t chunk = 0; chunk * per_message_ < object.MemberCount(); ++chunk) {
    const size_t first = chunk * per_message_;
    int rc = 0;
    if (chunk < submitted_.size()) {
      // Taken even when stale, so that the next one is the oldest.
      KorCompressedAttachment ahead = pipeline_->TakeOldest();
      const uint64_t now = chunk < versions_.size() ? versions_[chunk] : 0;
      if (submitted_[chunk] != now) {
        const std::string text = KorMemberChunkText(object, first, per_message_);
        rc = send(&text, nullptr);
      } else {
        rc = ahead.compressed ? send(nullptr, &ahead.zlib) : send(&ahead.text, nullptr);
      }
    } else {
      const std::string text = KorMemberChunkText(object, first, per_message_);
      rc = send(&text, nullptr);
    }
    if (rc) return rc;
  }
  return 0;
}
