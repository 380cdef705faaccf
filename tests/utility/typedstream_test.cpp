// Decoding the archived attributed strings of the messages database, and refusing broken ones.
#include <gtest/gtest.h>

#include <string>

#include "typedstream_archive.h"
#include "utility/db/kor_typedstream.h"

namespace {

std::string Decode(const std::string& blob) {
  std::string text = "untouched";
  return KorDecodeAttributedString(blob, &text) ? text : std::string("<refused>");
}

TEST(TypedStreamTest, DecodesTextsOfEveryLengthEncoding) {
  for (const std::string& text : {std::string("Hi"), std::string(""), std::string(127, 'a'), std::string(128, 'b'),
                                  std::string(40000, 'c'), std::string("\xF0\x9F\x98\x80 caf\xC3\xA9 \xEF\xBF\xBC")}) {
    EXPECT_EQ(Decode(fixtures::ArchiveAttributedString(text)), text) << text.size();
  }
}

TEST(TypedStreamTest, RealDeviceLayoutWithMutableStringAndBackReferences) {
  // As a device writes it: NSMutableAttributedString holding an NSMutableString whose superclass
  // chain (NSString, NSObject) is new, then references to the type "@".
  constexpr char kBlob[] =
      "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x19NSMutableAttributedString\x00"
      "\x84\x84\x12NSAttributedString\x00\x84\x84\x08NSObject\x00\x85\x92\x84\x84\x84\x0fNSMutableString"
      "\x01\x84\x84\x08NSString\x01\x95\x84\x01+\x05hello\x86\x86";
  std::string blob(kBlob, sizeof kBlob - 1);
  EXPECT_EQ(Decode(blob), "hello");
}

TEST(TypedStreamTest, InvalidUtf8IsReplacedNotPassedOn) {
  EXPECT_EQ(Decode(fixtures::ArchiveAttributedString("a\xFF" "b\xC3")), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(KorValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
  EXPECT_EQ(KorValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                   // overlong
}

TEST(TypedStreamTest, RefusesTruncatedAndMalformedArchives) {
  std::string good = fixtures::ArchiveAttributedString("truncate me");
  // Every cut that ends before the characters are complete is refused, never read past.
  size_t text_end = good.find("truncate me") + 11;
  for (size_t length = 0; length < text_end; ++length) {
    EXPECT_EQ(Decode(good.substr(0, length)), "<refused>") << length;
  }
  EXPECT_EQ(Decode(good.substr(0, text_end)), "truncate me");

  std::string wrong_signature = good;
  wrong_signature[2] = 'S';
  EXPECT_EQ(Decode(wrong_signature), "<refused>");
  // A length far beyond the blob.
  std::string huge_length = good;
  huge_length[good.find("truncate me") - 1] = '\x81';  // a 2-byte length follows
  EXPECT_EQ(Decode(huge_length), "<refused>");
  // A reference to a string that was never written.
  std::string bad_reference = good;
  bad_reference[good.find("NSString") + 9] = '\x7f';
  EXPECT_EQ(Decode(bad_reference), "<refused>");
  EXPECT_EQ(Decode("not an archive at all"), "<refused>");
}

TEST(TypedStreamTest, DeepNestingAndArchivesWithoutStringsAreRefused) {
  std::string header("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@", 19);
  std::string deep = header;
  for (int i = 0; i < 1000; ++i) deep += std::string("\x84\x84\x84\x01X\x00", 6) + "\x85\x92";
  EXPECT_EQ(Decode(deep), "<refused>");
  std::string no_string = header + std::string("\x84\x84\x84\x08NSNumber\x00\x85\x84\x01i\x05\x86", 19);
  EXPECT_EQ(Decode(no_string), "<refused>");
}

}  // namespace
