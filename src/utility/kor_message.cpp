#include "utility/kor_message.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/kst_deflate.h"
#include "platform/kst_zlib.h"
#include "platform/vel_json_util.h"

uint16_t KorStatusForCode(int32_t code) {
  if (code == kKorOk) return kKorStatusDone;
  if (code == kKorStopped) return kKorStatusStopped;
  return kKorStatusFailed;
}

// Written member by member with the same writer VelJsonUtil::ToString uses, so the text is the
// same; every message is built on the send path, and a document per message costs more than the
// write of a small attachment.
std::string KorMessageJson(const KorMessage& message) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("stage");
  writer.Int(message.stage);
  writer.Key("code");
  writer.Int(message.code);
  writer.Key("uuid");
  writer.String(message.uuid.data(), static_cast<rapidjson::SizeType>(message.uuid.size()));
  writer.Key("type");
  writer.Int(message.type);
  if (message.info) {
    rapidjson::Document info;
    if (VelJsonUtil::Parse(*message.info, &info)) {
      writer.Key("info");
      info.Accept(writer);
    }
  }
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string KorMessageText(const KorMessage& message) {
  std::string json = KorMessageJson(message);
  std::string text = std::to_string(message.format);
  text.reserve(text.size() + json.size() + 2);
  text.push_back('\0');
  text += json;
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

bool KorMessageTextFits(const KorMessage& message) { return !KorMessageText(message).empty(); }

void KorPrepareAttachment(KorMessage* message, std::vector<uint8_t>* storage) {
  if (message->type != kKorMessageTypeCompressed || message->attachment_compressed ||
      message->attachment_length == 0 || !message->attachment) {
    return;
  }
  KorCompressAttachment(message->attachment, static_cast<size_t>(message->attachment_length), storage);
  message->attachment = storage->data();
  message->attachment_length = storage->size();
}
