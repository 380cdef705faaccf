#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notes_db.h"
#include "platform/kst_zlib.h"

namespace {

std::vector<uint8_t> Compress(const std::string& text) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(kst::ZlibCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 9, &out));
  return out;
}

TEST(ZlibTest, RoundTripStartsWithZlibHeader) {
  std::string text(100000, 'x');
  auto packed = Compress(text);
  ASSERT_GE(packed.size(), 2u);
  EXPECT_EQ(packed[0], 0x78);  // zlib header, 32 KiB window
  std::string back;
  ASSERT_TRUE(kst::ZlibDecompress(packed.data(), packed.size(), text.size(), &back));
  EXPECT_EQ(back, text);
}

TEST(ZlibTest, RefusesOversizedTruncatedAndCorruptInput) {
  std::string text(100000, 'x');
  auto packed = Compress(text);
  std::string out;
  EXPECT_FALSE(kst::ZlibDecompress(packed.data(), packed.size(), text.size() - 1, &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(kst::ZlibDecompress(packed.data(), packed.size() / 2, text.size(), &out));
  packed[packed.size() / 2] ^= 0xFF;
  EXPECT_FALSE(kst::ZlibDecompress(packed.data(), packed.size(), text.size(), &out));
  EXPECT_FALSE(kst::ZlibDecompress(nullptr, 0, 10, &out));
}

TEST(ZlibTest, GzipMembersInflateWithTheSameCapAndOnlyAsGzip) {
  std::string text(50000, 'y');
  std::string gzip = vdevice_fixtures::GzipBytes(text);
  const auto* bytes = reinterpret_cast<const uint8_t*>(gzip.data());
  std::string out;
  ASSERT_TRUE(kst::GzipDecompress(bytes, gzip.size(), text.size(), &out));
  EXPECT_EQ(out, text);
  EXPECT_FALSE(kst::GzipDecompress(bytes, gzip.size(), text.size() - 1, &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(kst::GzipDecompress(bytes, gzip.size() - 4, text.size(), &out)) << "trailer cut off";
  EXPECT_FALSE(kst::ZlibDecompress(bytes, gzip.size(), text.size(), &out)) << "gzip is not the zlib format";
  auto zlib = Compress(text);
  EXPECT_FALSE(kst::GzipDecompress(zlib.data(), zlib.size(), text.size(), &out)) << "nor the other way round";
}

}  // namespace
