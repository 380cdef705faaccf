#include "utility/kor_listing.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>

#include "platform/qr_task_schedular.h"
#include "utility/kor_compression_pipeline.h"
#include "utility/ios/kor_client.h"
#include "utility/kor_command.h"
#include "utility/kor_message.h"
#include "utility/kor_module.h"

std::string KorCountInfo(int64_t count) { return "{\"Count\":" + std::to_string(count) + "}"; }

bool KorListing::Stopped() const {
  auto task = QrTaskSchedular::Get().FindTask(KorTaskIdText(packet_));
  return !task || task->GetStatus() == kQrTaskStatusStopped;
}

int KorListing::SendStage(int32_t stage) { return SendAttachment(stage, std::string_view()); }

int KorListing::SendAttachment(int32_t stage, std::string_view json) {
  return Send(stage, reinterpret_cast<const uint8_t*>(json.data()), json.size(), false);
}

int KorListing::SendCompressed(int32_t stage, const std::vector<uint8_t>& zlib) {
  return Send(stage, zlib.data(), zlib.size(), true);
}

int KorListing::Send(int32_t stage, const uint8_t* attachment, size_t length, bool compressed) {
  if (Stopped()) return kKorStopped;
  KorMessage message;
  message.stage = stage;
  message.uuid = uuid_;
  message.type = kKorMessageTypeCompressed;
  message.info = info_;
  message.attachment = attachment;
  message.attachment_length = length;
  message.attachment_compressed = compressed;
  // Through the module base, so that a batch that cannot be sent ends the command with its reply.
  return KorModule::SendIntermediateAs(packet_, group_ != 0 ? group_ : packet_->command, std::move(message));
}

int KorListing::SendValue(int32_t stage, const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return SendAttachment(stage, std::string_view(buffer.GetString(), buffer.GetSize()));
}

namespace {

// Sends the oldest compressed chunks: those ready, and more while over `keep_in_flight` wait.
int SendCompressedChunks(KorListing* listing, int32_t stage, KorCompressionPipeline* pipeline, size_t keep_in_flight) {
  while (pipeline->InFlight() > keep_in_flight || (pipeline->InFlight() > 0 && pipeline->OldestReady())) {
    KorCompressedAttachment chunk = pipeline->TakeOldest();
    int rc = chunk.compressed ? listing->SendCompressed(stage, chunk.zlib) : listing->SendAttachment(stage, chunk.text);
    if (rc) return rc;
  }
  return 0;
}

}  // namespace

std::string KorMemberChunkText(const rapidjson::Value& object, size_t first, size_t count) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  const size_t end = std::min<size_t>(object.MemberCount(), first + count);
  for (auto member = object.MemberBegin() + first; member != object.MemberBegin() + end; ++member) {
    member->name.Accept(writer);
    member->value.Accept(writer);
  }
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

int KorSendMemberChunks(KorListing* listing, int32_t stage, const rapidjson::Value& object, size_t per_message) {
  if (!object.IsObject()) return 0;
  if (per_message == 0) per_message = 1;
  // Several chunks: each is compressed on worker threads while the next one is written; they
  // still go out in order, all before the command's final reply.
  std::unique_ptr<KorCompressionPipeline> pipeline;
  const size_t keep_in_flight = 2 * (KorCompressionPipeline::DefaultWorkers() + 1);
  if (object.MemberCount() > per_message) {
    pipeline = std::make_unique<KorCompressionPipeline>(KorCompressionPipeline::DefaultWorkers());
  }
  for (size_t first = 0; first < object.MemberCount(); first += per_message) {
    std::string chunk = KorMemberChunkText(object, first, per_message);
    if (pipeline) {
      pipeline->Submit(std::move(chunk));
      if (int rc = SendCompressedChunks(listing, stage, pipeline.get(), keep_in_flight)) return rc;
    } else if (int rc = listing->SendAttachment(stage, chunk)) {
      return rc;
    }
  }
  return pipeline ? SendCompressedChunks(listing, stage, pipeline.get(), 0) : 0;
}

KorRecordBatcher::KorRecordBatcher(KorListing* listing, int32_t stage, size_t batch_size)
    : listing_(listing), stage_(stage), batch_size_(batch_size == 0 ? 1 : batch_size) {}

KorRecordBatcher::~KorRecordBatcher() = default;

void KorRecordBatcher::CompressAhead() { compress_ahead_ = true; }

void KorRecordBatcher::OpenRecord() { text_.push_back(count_ == 0 ? '[' : ','); }

int KorRecordBatcher::CloseRecord() {
  ++count_;
  if (count_ < batch_size_) return kKorOk;
  // A listing of one batch gains nothing from other threads: the pipeline starts with a second.
  if (compress_ahead_ && !pipeline_) {
    pipeline_ = std::make_unique<KorCompressionPipeline>(KorCompressionPipeline::DefaultWorkers());
  }
  return SendBatch();
}

int KorRecordBatcher::Add(std::string_view record_json) {
  OpenRecord();
  text_.append(record_json);
  return CloseRecord();
}

int KorRecordBatcher::Add(const rapidjson::Value& record) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  record.Accept(writer);
  return Add(std::string_view(buffer.GetString(), buffer.GetSize()));
}

int KorRecordBatcher::SendBatch() {
  if (count_ == 0) return failed_;
  text_.push_back(']');
  count_ = 0;
  if (!pipeline_) {
    int rc = listing_->SendAttachment(stage_, text_);
    text_.clear();
    return rc;
  }
  if (failed_) {
    text_.clear();
    return failed_;
  }
  std::string batch;
  batch.reserve(text_.capacity());
  batch.swap(text_);
  pipeline_->Submit(std::move(batch));
  if (held_) return kKorOk;
  // Enough batches in flight to keep every worker and this thread busy, and no more (memory).
  return SendReady(2 * (KorCompressionPipeline::DefaultWorkers() + 1));
}

// Sends the compressed batches that are ready, and waits for the oldest ones while more than
// `keep_in_flight` are pending.
int KorRecordBatcher::SendReady(size_t keep_in_flight) {
  while (!failed_ && (pipeline_->InFlight() > keep_in_flight || pipeline_->OldestReady())) {
    failed_ = Send(pipeline_->TakeOldest());
  }
  return failed_;
}

int KorRecordBatcher::Send(const KorCompressedAttachment& attachment) {
  if (attachment.compressed) return listing_->SendCompressed(stage_, attachment.zlib);
  return listing_->SendAttachment(stage_, attachment.text);
}

int KorRecordBatcher::Flush() {
  held_ = false;
  if (int rc = SendBatch()) return rc;
  return pipeline_ ? SendReady(0) : kKorOk;
}
