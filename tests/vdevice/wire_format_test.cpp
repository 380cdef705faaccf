// The usbmuxd and AFC wire formats: well-formed messages decode, hostile headers are refused.
#include <gtest/gtest.h>

#include <cstring>

#include "afc_protocol.h"
#include "byte_order.h"
#include "mux_protocol.h"

namespace vdevice {
namespace {

std::string MuxHeaderBytes(uint32_t length, uint32_t version, uint32_t message, uint32_t tag) {
  std::string bytes(kMuxHeaderSize, '\0');
  uint8_t* raw = reinterpret_cast<uint8_t*>(bytes.data());
  StoreLittle(raw, 4, length);
  StoreLittle(raw + 4, 4, version);
  StoreLittle(raw + 8, 4, message);
  StoreLittle(raw + 12, 4, tag);
  return bytes;
}

TEST(MuxWireFormat, EncodedMessageDecodesWithItsTagAndLength) {
  PlistPtr body = MuxResultMessage(kMuxOk);
  std::string message = EncodeMuxMessage(7, body.get());
  MuxHeader header;
  std::string error;
  ASSERT_TRUE(DecodeMuxHeader(reinterpret_cast<const uint8_t*>(message.data()), &header, &error)) << error;
  EXPECT_EQ(header.length, message.size());
  EXPECT_EQ(header.tag, 7u);
  PlistPtr parsed = ParsePlist(message.data() + kMuxHeaderSize, message.size() - kMuxHeaderSize);
  EXPECT_EQ(DictString(parsed.get(), "MessageType"), "Result");
  EXPECT_EQ(DictUnsigned(parsed.get(), "Number"), 0u);
}

TEST(MuxWireFormat, RefusesHostileHeaders) {
  struct Case {
    uint32_t length, version, message;
  } cases[] = {{15, 1, 8}, {kMaxMuxMessageBytes + 1, 1, 8}, {100, 0, 8}, {100, 1, 3}, {UINT32_MAX, 1, 8}};
  for (const Case& c : cases) {
    std::string bytes = MuxHeaderBytes(c.length, c.version, c.message, 1);
    MuxHeader header;
    std::string error;
    EXPECT_FALSE(DecodeMuxHeader(reinterpret_cast<const uint8_t*>(bytes.data()), &header, &error)) << c.length;
    EXPECT_FALSE(error.empty());
  }
}

TEST(MuxWireFormat, PortsArriveInNetworkByteOrder) {
  EXPECT_EQ(PortFromMux(32498), 62078);
  EXPECT_EQ(PortFromMux(0x3412), 0x1234);
}

std::string AfcHeaderBytes(const char* magic, uint64_t entire, uint64_t self) {
  std::string bytes(kAfcHeaderSize, '\0');
  std::memcpy(bytes.data(), magic, 8);
  uint8_t* raw = reinterpret_cast<uint8_t*>(bytes.data());
  StoreLittle(raw + 8, 8, entire);
  StoreLittle(raw + 16, 8, self);
  return bytes;
}

TEST(AfcWireFormat, HeaderRoundTrips) {
  AfcHeader header{kAfcHeaderSize + 20, kAfcHeaderSize + 8, 99, kAfcFileRead};
  uint8_t raw[kAfcHeaderSize];
  EncodeAfcHeader(header, raw);
  AfcHeader decoded;
  std::string error;
  ASSERT_TRUE(DecodeAfcHeader(raw, &decoded, &error)) << error;
  EXPECT_EQ(decoded.entire_length, header.entire_length);
  EXPECT_EQ(decoded.this_length, header.this_length);
  EXPECT_EQ(decoded.packet_number, 99u);
  EXPECT_EQ(decoded.operation, static_cast<uint64_t>(kAfcFileRead));
}

TEST(AfcWireFormat, RefusesBadMagicAndInconsistentOrHugeLengths) {
  struct Case {
    const char* magic;
    uint64_t entire, self;
  } cases[] = {{"CFA6LPAB", 40, 40},
               {"CFA6LPAA", 40, 39},
               {"CFA6LPAA", 50, 60},
               {"CFA6LPAA", kAfcHeaderSize + kMaxAfcParameterBytes + 1, kAfcHeaderSize + kMaxAfcParameterBytes + 1},
               {"CFA6LPAA", UINT64_MAX, 40}};
  for (const Case& c : cases) {
    std::string bytes = AfcHeaderBytes(c.magic, c.entire, c.self);
    AfcHeader header;
    std::string error;
    EXPECT_FALSE(DecodeAfcHeader(reinterpret_cast<const uint8_t*>(bytes.data()), &header, &error))
        << c.magic << " " << c.entire << " " << c.self;
  }
}

TEST(AfcWireFormat, ParametersAreReadWithinBounds) {
  std::string bytes = EncodeAfcU64(5) + std::string("path\0", 5) + "tail";
  AfcParameters parameters(bytes);
  uint64_t number = 0;
  std::string text;
  ASSERT_TRUE(parameters.ReadU64(&number));
  EXPECT_EQ(number, 5u);
  ASSERT_TRUE(parameters.ReadString(&text));
  EXPECT_EQ(text, "path");
  ASSERT_TRUE(parameters.ReadString(&text));
  EXPECT_EQ(text, "tail");
  EXPECT_FALSE(parameters.ReadString(&text));
  EXPECT_FALSE(parameters.ReadU64(&number));

  std::string short_bytes("1234567", 7);
  AfcParameters too_short(short_bytes);
  EXPECT_FALSE(too_short.ReadU64(&number));
}

TEST(AfcWireFormat, ListsAreNulSeparated) {
  EXPECT_EQ(EncodeAfcPairs({{"st_size", "3"}, {"st_ifmt", "S_IFREG"}}), std::string("st_size\0003\0st_ifmt\0S_IFREG\0", 26));
  EXPECT_EQ(EncodeAfcNames({".", "..", "a"}), std::string(".\0..\0a\0", 7));
}

}  // namespace
}  // namespace vdevice
