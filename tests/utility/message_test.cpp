// The message text every reply carries, and reading command payloads.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>

#include "frontend_message.h"
#include "ipc/ipc_packet.h"
#include "platform/kst_deflate.h"
#include "platform/kst_zlib.h"
#include "utility/kor_command.h"
#include "utility/kor_compression_pipeline.h"
#include "utility/kor_message.h"

namespace {

std::string Json(const std::string& text) {
  // The JSON between the first and the second 0x00.
  size_t first = text.find('\0');
  size_t second = text.find('\0', first + 1);
  return text.substr(first + 1, second - first - 1);
}

TEST(MessageTextTest, ReplyWithoutInfoHasExactlyFourMembersInOrder) {
  KorMessage message;
  std::string text = KorMessageText(message);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(0, 2), std::string("1\0", 2));
  EXPECT_EQ(text.back(), '\0');
  EXPECT_EQ(Json(text), R"({"stage":0,"code":0,"uuid":"","type":0})");
}

TEST(MessageTextTest, InfoIsEmbeddedAsJsonOrLeftOutWhenItDoesNotParse) {
  KorMessage message;
  message.stage = 2;
  message.code = -3;
  message.uuid = "00008110-000A";
  message.type = 1;
  message.info = R"([1,"two",{"x":null}])";
  EXPECT_EQ(Json(KorMessageText(message)),
            R"({"stage":2,"code":-3,"uuid":"00008110-000A","type":1,"info":[1,"two",{"x":null}]})");
  message.info = "{broken";
  EXPECT_EQ(Json(KorMessageText(message)), R"({"stage":2,"code":-3,"uuid":"00008110-000A","type":1})");
}

TEST(MessageTextTest, TextThatWouldNotFitSixteenBitsIsRefused) {
  KorMessage message;
  message.info = "\"" + std::string(70000, 'a') + "\"";
  EXPECT_TRUE(KorMessageText(message).empty());
  message.info = "\"" + std::string(65000, 'a') + "\"";
  EXPECT_FALSE(KorMessageText(message).empty());
}

TEST(MessageTextTest, StatusFollowsTheCode) {
  EXPECT_EQ(KorStatusForCode(0), kKorStatusDone);
  EXPECT_EQ(KorStatusForCode(6), kKorStatusStopped);
  EXPECT_EQ(KorStatusForCode(21), kKorStatusFailed);
  EXPECT_EQ(KorStatusForCode(-1), kKorStatusFailed);
}

TEST(AttachmentTest, TypeZeroIsCompressedOtherTypesAndEmptyOnesAreNot) {
  std::string data(5000, 'z');
  std::vector<uint8_t> storage;
  KorMessage message;
  message.attachment = reinterpret_cast<const uint8_t*>(data.data());
  message.attachment_length = data.size();
  KorPrepareAttachment(&message, &storage);
  EXPECT_LT(message.attachment_length, data.size());
  EXPECT_EQ(message.attachment, storage.data());

  // What the front-end reads back is the original.
  std::string payload = KorMessageText(message) +
                        std::string(reinterpret_cast<const char*>(message.attachment), message.attachment_length);
  frontend::Message decoded =
      frontend::DecodeMessage(300, 2, 1, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  ASSERT_TRUE(decoded.valid);
  EXPECT_TRUE(decoded.attachment_inflated);
  EXPECT_EQ(decoded.attachment, data);

  KorMessage raw;
  raw.type = kKorMessageTypeRaw;
  raw.attachment = reinterpret_cast<const uint8_t*>(data.data());
  raw.attachment_length = data.size();
  KorPrepareAttachment(&raw, &storage);
  EXPECT_EQ(raw.attachment_length, data.size());

  KorMessage empty;
  KorPrepareAttachment(&empty, &storage);
  EXPECT_EQ(empty.attachment_length, 0u);
  EXPECT_EQ(empty.attachment, nullptr);
}

// A photo listing batch as the photo module sends it, `count` objects long.
std::string PhotoListing(int count) {
  std::string json = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) json += ',';
    json += "{\"PATH\":\"DCIM/100APPLE/IMG_" + std::to_string(1000 + i) + ".JPG\",\"Z_PK\":" + std::to_string(i + 1) +
            ",\"ZSAVEDASSETTYPE\":3,\"ZORIENTATION\":1,\"ZADDITIONALATTRIBUTES\":" + std::to_string(i + 1) +
            ",\"ZDATECREATED\":\"2024-03-" + std::to_string(10 + i % 18) + " 12:" + std::to_string(10 + i % 50) +
            ":00\",\"ZORIGINALFILESIZE\":" + std::to_string(1000000 + i * 7919 % 3000000) + "}";
  }
  return json + "]";
}

frontend::Message DecodeWithAttachment(const KorMessage& message) {
  std::string payload = KorMessageText(message) +
                        std::string(reinterpret_cast<const char*>(message.attachment), message.attachment_length);
  return frontend::DecodeMessage(400, 2, 1, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

TEST(AttachmentTest, FrontEndInflatesTheOutputOfEitherCompressorToTheSameBytes) {
  std::string listing = PhotoListing(600);
  const auto* data = reinterpret_cast<const uint8_t*>(listing.data());
  std::vector<uint8_t> by_zlib;
  std::vector<uint8_t> by_libdeflate;
  ASSERT_TRUE(kst::ZlibCompress(data, listing.size(), 9, &by_zlib));
  ASSERT_TRUE(kst::DeflateZlibFormat(data, listing.size(), 9, &by_libdeflate));
  EXPECT_NE(by_zlib, by_libdeflate);  // two different encoders, one format
  for (const auto* packed : {&by_zlib, &by_libdeflate}) {
    KorMessage message;  // type 0: the front-end inflates what follows the text
    message.attachment = packed->data();
    message.attachment_length = packed->size();
    frontend::Message decoded = DecodeWithAttachment(message);
    ASSERT_TRUE(decoded.attachment_inflated) << decoded.error;
    EXPECT_TRUE(decoded.attachment == listing);
  }
}

TEST(AttachmentTest, SmallAndLargeTypeZeroAttachmentsBothReachTheFrontEndIntact) {
  for (int count : {3, 600}) {  // under and over the size where the compressor changes
    std::string listing = PhotoListing(count);
    std::vector<uint8_t> storage;
    KorMessage message;
    message.attachment = reinterpret_cast<const uint8_t*>(listing.data());
    message.attachment_length = listing.size();
    KorPrepareAttachment(&message, &storage);
    EXPECT_LT(message.attachment_length, listing.size());
    frontend::Message decoded = DecodeWithAttachment(message);
    ASSERT_TRUE(decoded.attachment_inflated) << count;
    EXPECT_TRUE(decoded.attachment == listing) << count;
  }
}

// Inflates with zlib itself, not with the program's own reader.
std::string InflateWithZlib(const std::vector<uint8_t>& packed, size_t expected_size) {
  std::string out(expected_size + 1, '\0');
  z_stream stream{};
  EXPECT_EQ(inflateInit(&stream), Z_OK);
  stream.next_in = const_cast<Bytef*>(packed.data());
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u);  // nothing after the stream's end
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

// Text that compresses to about half, quickly at level 9 (no long runs for the match search).
std::string Letters(size_t size) {
  std::string text(size, ' ');
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (char& c : text) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    c = static_cast<char>('a' + state % 16);
  }
  return text;
}

void ExpectZlibStreamOf(const std::vector<uint8_t>& packed, const std::string& original) {
  ASSERT_GE(packed.size(), 6u);
  EXPECT_EQ(packed[0], 0x78);  // zlib header, 32 KiB window
  EXPECT_EQ((packed[0] << 8 | packed[1]) % 31, 0);
  EXPECT_TRUE(InflateWithZlib(packed, original.size()) == original) << original.size();
}

TEST(AttachmentTest, CompressedAttachmentsInflateWithZlibToTheOriginal) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{64} * 1024, size_t{16} * 1024 * 1024}) {
    std::string text = Letters(size);
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    std::vector<uint8_t> packed;
    ASSERT_TRUE(KorCompressAttachment(data, size, &packed)) << size;
    ExpectZlibStreamOf(packed, text);
    if (size > 64 * 1024) continue;  // each compressor on its own, for the sizes it would not be picked for too
    ASSERT_TRUE(kst::ZlibCompress(data, size, 9, &packed)) << size;
    ExpectZlibStreamOf(packed, text);
    ASSERT_TRUE(kst::DeflateZlibFormat(data, size, 9, &packed)) << size;
    ExpectZlibStreamOf(packed, text);
  }
}

kst::IPCPacketPtr PacketWith(const std::string& payload) {
  kst::PacketHeader header{1, 600, 0, payload.size()};
  return kst::IPCPacketPtr(kst::IPCPacketCreate(header, reinterpret_cast<const uint8_t*>(payload.data()), nullptr));
}

TEST(AttachmentTest, PipelineHandsBackEveryStreamInSubmissionOrder) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < 24; ++i) texts.push_back(Letters(1000 + i * 9000) + std::to_string(i));
  for (size_t workers : {size_t{1}, size_t{3}}) {
    KorCompressionPipeline pipeline(workers);
    size_t taken = 0;
    // Taken while others are still queued or running, as a listing does, and then to the end.
    for (size_t i = 0; i < texts.size(); ++i) {
      pipeline.Submit(texts[i]);
      if (i % 3 != 2) continue;
      KorCompressedAttachment oldest = pipeline.TakeOldest();
      ASSERT_TRUE(oldest.compressed);
      ExpectZlibStreamOf(oldest.zlib, texts[taken++]);
    }
    EXPECT_EQ(pipeline.InFlight(), texts.size() - taken);
    while (pipeline.InFlight() > 0) {
      KorCompressedAttachment oldest = pipeline.TakeOldest();
      ASSERT_TRUE(oldest.compressed);
      EXPECT_TRUE(oldest.text.empty()) << "the text is released once compressed";
      ExpectZlibStreamOf(oldest.zlib, texts[taken++]);
    }
    EXPECT_EQ(taken, texts.size());
  }
  // Destroyed with work still queued: it neither waits for the queue nor leaks it.
  KorCompressionPipeline abandoned(2);
  for (const std::string& text : texts) abandoned.Submit(text);
}

TEST(AttachmentTest, AnAttachmentCompressedAheadIsSentAsItIs) {
  std::string text = Letters(70000);
  std::vector<uint8_t> packed;
  ASSERT_TRUE(KorCompressAttachment(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &packed));
  KorMessage message;
  message.attachment = packed.data();
  message.attachment_length = packed.size();
  message.attachment_compressed = true;
  std::vector<uint8_t> storage;
  KorPrepareAttachment(&message, &storage);
  EXPECT_EQ(message.attachment, packed.data());
  std::string payload = KorMessageText(message) +
                        std::string(reinterpret_cast<const char*>(message.attachment), message.attachment_length);
  frontend::Message decoded =
      frontend::DecodeMessage(400, 2, 1, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  ASSERT_TRUE(decoded.valid);
  EXPECT_EQ(decoded.attachment, text);
}

TEST(CommandPayloadTest, SplitsFormatJsonAndAttachment) {
  auto packet = PacketWith(std::string("1\0{\"a\":1}\0\x01\x00\x02", 13));
  KorCommandPayload payload = KorParseCommandPayload(packet.get());
  EXPECT_EQ(payload.format, 1);
  EXPECT_EQ(std::string(payload.json, payload.json_length), "{\"a\":1}");
  ASSERT_EQ(payload.attachment_length, 3u);
  EXPECT_EQ(payload.attachment[1], 0);
}

TEST(CommandPayloadTest, ToleratesMissingSeparatorsAndEmptyPayloads) {
  auto no_zero = PacketWith("12");
  KorCommandPayload payload = KorParseCommandPayload(no_zero.get());
  EXPECT_EQ(payload.format, 12);
  EXPECT_EQ(payload.json, nullptr);
  auto no_end = PacketWith(std::string("1\0{}", 4));
  payload = KorParseCommandPayload(no_end.get());
  EXPECT_EQ(std::string(payload.json, payload.json_length), "{}");
  EXPECT_EQ(payload.attachment, nullptr);
  auto empty = PacketWith("");
  payload = KorParseCommandPayload(empty.get());
  EXPECT_EQ(payload.json, nullptr);
  EXPECT_EQ(KorParseCommandPayload(nullptr).json, nullptr);
}

TEST(CommandPayloadTest, AttachmentInflatesOnlyWhenItIsZlibData) {
  std::string compressed = frontend::CompressAttachment(R"({"path":"/DCIM"})");
  auto packet = PacketWith(std::string("1\0{}\0", 5) + compressed);
  std::string inflated;
  EXPECT_TRUE(KorInflateAttachment(KorParseCommandPayload(packet.get()), &inflated));
  EXPECT_EQ(inflated, R"({"path":"/DCIM"})");
  auto garbage = PacketWith(std::string("1\0{}\0garbage", 12));
  EXPECT_FALSE(KorInflateAttachment(KorParseCommandPayload(garbage.get()), &inflated));
}

}  // namespace
