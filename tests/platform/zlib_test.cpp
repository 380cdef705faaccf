#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

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

std::string GzipMember(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

TEST(ZlibTest, GzipMembersInflateWithTheSameCapAndOnlyAsGzip) {
  std::string text(50000, 'y');
  std::string gzip = GzipMember(text);
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
