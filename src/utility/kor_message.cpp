#include "utility/kor_message.h"

#include <rapidjson/document.h>

#include "platform/kst_deflate.h"
#include "platform/kst_zlib.h"
#include "platform/vel_json_util.h"

uint16_t KorStatusForCode(int32_t code) {
  if (code == kKorOk) return kKorStatusDone;
  if (code == kKorStopped) return kKorStatusStopped;
  return kKorStatusFailed;
}

std::string KorMessageJson(const KorMessage& message) {
  rapidjson::Document document(rapidjson::kObjectType);
  auto& allocator = document.GetAllocator();
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "stage", message.stage);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "code", message.code);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "uuid", message.uuid);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "type", message.type);
  if (message.info) {
    rapidjson::Document info;
    if (VelJsonUtil::Parse(*message.info, &info)) {
      rapidjson::Value copy(info, allocator);
      VelJsonUtil::AddJsonDictObjectValue(document, allocator, "info", copy);
    }
  }
  return VelJsonUtil::ToString(document);
}

std::string KorMessageText(const KorMessage& message) {
  std::string text = std::to_string(message.format);
  text.push_back('\0');
  text += KorMessageJson(message);
  text.push_back('\0');
  if (text.size() > kKorMaxMessageText) return std::string();
  return text;
}

namespace {

// Both compressors write the same zlib stream at level 9. Measured on listing batches
// (link_throughput_bench), libdeflate's whole-buffer compressor is the faster one on the larger
// ones (photo batches, contact chunks) and zlib's on message batches and smaller replies.
constexpr uint64_t kWholeBufferDeflateFrom = 32 * 1024;
constexpr int kAttachmentLevel = 9;

}  // namespace

bool KorCompressAttachment(const uint8_t* data, size_t length, std::vector<uint8_t>* out) {
  if (length >= kWholeBufferDeflateFrom) return kst::DeflateZlibFormat(data, length, kAttachmentLevel, out);
  return kst::ZlibCompress(data, length, kAttachmentLevel, out);
}

void KorPrepareAttachment(KorMessage* message, std::vector<uint8_t>* storage) {
  if (message->type != kKorMessageTypeCompressed || message->attachment_length == 0 || !message->attachment) return;
  KorCompressAttachment(message->attachment, static_cast<size_t>(message->attachment_length), storage);
  message->attachment = storage->data();
  message->attachment_length = storage->size();
}
