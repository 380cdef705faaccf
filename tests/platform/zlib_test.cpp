#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "platform/kst_deflate.h"
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

TEST(ZlibFormatTest, BothCompressorsWriteStreamsThatZlibInflatesToTheOriginal) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{64} * 1024, size_t{16} * 1024 * 1024}) {
    std::string text = Letters(size);
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    std::vector<uint8_t> by_zlib;
    std::vector<uint8_t> by_libdeflate;
    ASSERT_TRUE(kst::ZlibCompress(data, size, 9, &by_zlib)) << size;
    ASSERT_TRUE(kst::DeflateZlibFormat(data, size, 9, &by_libdeflate)) << size;
    for (const auto* packed : {&by_zlib, &by_libdeflate}) {
      ASSERT_GE(packed->size(), 6u);
      EXPECT_EQ((*packed)[0], 0x78);  // zlib header, 32 KiB window
      EXPECT_EQ(((*packed)[0] << 8 | (*packed)[1]) % 31, 0);
      EXPECT_TRUE(InflateWithZlib(*packed, size) == text) << size;
    }
  }
}

}  // namespace
