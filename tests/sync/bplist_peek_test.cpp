// The early look at a synchronisation reply's bytes: it must agree with the full parse wherever it
// decides, and leave every message it cannot vouch for to that parse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework_environment.h"
#include "iOSAPI/kor_bplist_peek.h"
#include "iOSAPI/kor_device_link.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_service_message.h"

namespace {

constexpr char kBatch[] = "SDMessageProcessChanges";

std::vector<uint8_t> Binary(const std::string& body) {
  KorMessageBufferPtr message = KorXmlToMessage(KorPlistDocument(body, KorPlistDoctype::kApple));
  if (!message) return {};
  return std::vector<uint8_t>(message->bytes, message->bytes + message->length);
}

std::string Array(const std::vector<std::string>& elements) { return KorPlistArray(elements); }

KorBplistTopArray Peek(const std::vector<uint8_t>& bytes) {
  return KorPeekBplistTopArray(bytes.data(), bytes.size(), kBatch);
}

std::vector<uint8_t> BatchMessage() {
  std::string records = "<dict>";
  for (int i = 0; i < 20; ++i) {
    records += "<key>" + std::to_string(i) + "</key>" +
               KorPlistDict({{"com.apple.syncservices.RecordEntityName", KorPlistString("com.apple.contacts.Contact")},
                             {"first name", KorPlistString("Name " + std::to_string(i))}});
  }
  records += "</dict>";
  return Binary(Array({KorPlistString(kBatch), KorPlistString("com.apple.Contacts"), records, KorPlistBool(true),
                       KorPlistDict({})}));
}

}  // namespace

TEST(BplistPeekTest, ReadsArraysAndTheirNamesAsTheFullParseDoes) {
  REQUIRE_FRAMEWORK();
  std::vector<uint8_t> batch = BatchMessage();
  ASSERT_FALSE(batch.empty());
  KorBplistTopArray peek = Peek(batch);
  EXPECT_TRUE(peek.decided && peek.is_array && peek.holds_name);

  // Names compare without regard to case; another message is an array without the name.
  peek = Peek(Binary(Array({KorPlistString("sdmessageprocesschanges")})));
  EXPECT_TRUE(peek.decided && peek.is_array && peek.holds_name);
  peek = Peek(Binary(Array({KorPlistString("SDMessageDeviceReadyToReceiveChanges")})));
  EXPECT_TRUE(peek.decided && peek.is_array && !peek.holds_name);
  peek = Peek(Binary(Array({})));
  EXPECT_TRUE(peek.decided && peek.is_array && !peek.holds_name);
  // A string stored as UTF-16 is compared character by character, never folded from non-ASCII.
  peek = Peek(Binary(Array({KorPlistString("SDMessageProcessChang\xC3\xA9s")})));
  EXPECT_TRUE(peek.decided && peek.is_array && !peek.holds_name);

  peek = Peek(Binary(KorPlistDict({{"MessageName", KorPlistString(kBatch)}})));
  EXPECT_TRUE(peek.decided && !peek.is_array);
}

TEST(BplistPeekTest, LeavesWhatItCannotVouchForToTheFullParse) {
  REQUIRE_FRAMEWORK();
  std::string xml = KorPlistDocument(Array({KorPlistString(kBatch)}), KorPlistDoctype::kApple);
  EXPECT_FALSE(KorPeekBplistTopArray(reinterpret_cast<const uint8_t*>(xml.data()), xml.size(), kBatch).decided);
  EXPECT_FALSE(KorPeekBplistTopArray(nullptr, 0, kBatch).decided);
  std::vector<uint8_t> batch = BatchMessage();
  std::vector<uint8_t> truncated(batch.begin(), batch.end() - 1);
  EXPECT_FALSE(Peek(truncated).decided);
}

// Every single-byte corruption of a batch: no read outside the bytes (the sanitizer run checks
// that), and wherever both the early look and the full parse give an answer, they give the same.
TEST(BplistPeekTest, AgreesWithTheFullParseOnEveryCorruptedByte) {
  REQUIRE_FRAMEWORK();
  std::vector<uint8_t> batch = BatchMessage();
  size_t decided = 0;
  for (size_t at = 0; at < batch.size(); ++at) {
    for (uint8_t flip : {uint8_t{0x01}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> bytes = batch;
      bytes[at] ^= flip;
      KorBplistTopArray peek = Peek(bytes);
      if (!peek.decided) continue;
      ++decided;
      KorCFHolder parsed = KorMessageToPropertyList(bytes.data(), static_cast<uint32_t>(bytes.size()));
      if (!parsed) continue;
      ASSERT_EQ(peek.is_array, KorDLParsedIsArray(parsed)) << "byte " << at << " ^ " << int{flip};
      if (peek.is_array) {
        ASSERT_EQ(peek.holds_name, KorDLParsedHoldsName(parsed, kBatch)) << "byte " << at;
      }
    }
  }
  EXPECT_GT(decided, batch.size());
}
