// Reassembly of a connection's byte stream into packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipc/ipc_packet.h"
#include "packet_test_util.h"

namespace {

struct Delivered {
  kst::PacketHeader header;
  std::string payload;
};

class AssemblerTest : public ::testing::Test {
 protected:
  void Feed(const std::string& chunk) {
    assembler.Feed(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(),
                   [this](const kst::PacketHeader& header, const uint8_t* payload) {
                     delivered.push_back({header, std::string(reinterpret_cast<const char*>(payload), header.length)});
                   });
  }
  std::vector<std::string> reports;
  kst::IPCPacketAssembler assembler{[this](const std::string& text) { reports.push_back(text); }};
  std::vector<Delivered> delivered;
};

TEST(PacketHeaderTest, LayoutIsLittleEndianAtFixedOffsets) {
  uint8_t header[kst::kPacketHeaderSize];
  kst::EncodePacketHeader(kst::PacketHeader{0x0102030405060708ull, 0x11223344, 0x5566, 0x0A0B0C0D0E0F1011ull}, header);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 8), "kCommand");
  EXPECT_EQ(std::vector<uint8_t>(header + 8, header + 14), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(header[14], 0x08);
  EXPECT_EQ(header[21], 0x01);
  EXPECT_EQ(header[22], 0x44);
  EXPECT_EQ(header[26], 0x66);
  EXPECT_EQ(header[28], 0x11);
  EXPECT_EQ(header[35], 0x0A);
  kst::PacketHeader back;
  ASSERT_TRUE(kst::DecodePacketHeader(header, sizeof(header), &back));
  EXPECT_EQ(back.task_id, 0x0102030405060708ull);
  EXPECT_EQ(back.command, 0x11223344u);
  EXPECT_EQ(back.status, 0x5566);
  EXPECT_EQ(back.length, 0x0A0B0C0D0E0F1011ull);
  EXPECT_FALSE(kst::DecodePacketHeader(header, sizeof(header) - 1, &back));
}

TEST_F(AssemblerTest, TwoPacketsInOneChunkArriveInOrder) {
  Feed(MakePacket(1, 600, "first") + MakePacket(2, 601, "second!"));
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].header.task_id, 1u);
  EXPECT_EQ(delivered[0].payload, "first");
  EXPECT_EQ(delivered[1].header.command, 601u);
  EXPECT_EQ(delivered[1].payload, "second!");
  EXPECT_EQ(assembler.Buffered(), 0u);
}

TEST_F(AssemblerTest, HeaderSplitOverChunksIsJoined) {
  std::string packet = MakePacket(7, 15, "payload");
  Feed(packet.substr(0, 20));
  EXPECT_TRUE(delivered.empty());
  Feed(packet.substr(20, 10));
  EXPECT_TRUE(delivered.empty());
  Feed(packet.substr(30));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].payload, "payload");
}

TEST_F(AssemblerTest, PacketSplitAcrossManyChunksAndFollowedByAnother) {
  std::string stream = MakePacket(1, 1, std::string(10000, 'a')) + MakePacket(2, 2, "b");
  for (size_t offset = 0; offset < stream.size(); offset += 4096) Feed(stream.substr(offset, 4096));
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].payload.size(), 10000u);
  EXPECT_EQ(delivered[1].payload, "b");
}

TEST_F(AssemblerTest, ZeroLengthPacketIsDelivered) {
  Feed(MakePacket(3, 9, ""));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].header.length, 0u);
}

TEST_F(AssemblerTest, PayloadWithZeroBytesIsDeliveredWhole) {
  std::string payload("1\0{}\0\x00\x01\x02", 8);
  Feed(MakePacket(4, 701, payload));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].payload, payload);
}

TEST_F(AssemblerTest, ChunkStartingWithMagicDropsAnIncompletePacket) {
  std::string incomplete = MakePacket(5, 1, std::string(100, 'x')).substr(0, 60);
  Feed(incomplete);
  Feed(MakePacket(6, 2, "next"));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].header.task_id, 6u);
}

TEST_F(AssemblerTest, BytesThatStartNoPacketWaitForTheNextMagic) {
  Feed("garbage bytes that are not a packet header at all......");
  EXPECT_TRUE(delivered.empty());
  Feed(MakePacket(8, 3, "ok"));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].payload, "ok");
}

TEST_F(AssemblerTest, TrailingBytesAfterAPacketAreDiscardedWhenTheyStartNoPacket) {
  Feed(MakePacket(9, 4, "x") + std::string(50, 'z'));
  ASSERT_EQ(delivered.size(), 1u);
  Feed(std::string(10, 'z'));
  Feed(MakePacket(10, 5, "y"));
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1].header.task_id, 10u);
}

TEST_F(AssemblerTest, HugeClaimedLengthDropsTheStreamInsteadOfBuffering) {
  uint8_t header[kst::kPacketHeaderSize];
  kst::EncodePacketHeader(kst::PacketHeader{1, 1, 0, kst::kMaxPacketPayload + 1}, header);
  Feed(std::string(reinterpret_cast<char*>(header), sizeof(header)));
  EXPECT_EQ(assembler.Buffered(), 0u);
  EXPECT_FALSE(reports.empty());
  Feed(MakePacket(2, 2, "after"));
  ASSERT_EQ(delivered.size(), 1u);
}

TEST_F(AssemblerTest, EndlessStrayBytesAreBounded) {
  std::string junk(64 * 1024, 'j');
  for (int i = 0; i < 40; ++i) Feed(junk);
  EXPECT_LE(assembler.Buffered(), kst::kMaxStrayBytes + junk.size());
}

TEST(PacketRecordTest, PayloadCopyEndsWithZeroAndEmptyPacketHasNoBuffer) {
  kst::PacketHeader header{1, 2, 3, 4};
  kst::IPCPacketPtr packet(kst::IPCPacketCreate(header, reinterpret_cast<const uint8_t*>("abcd"), nullptr));
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->payload[4], 0);
  EXPECT_STREQ(reinterpret_cast<char*>(packet->payload), "abcd");
  kst::IPCPacketPtr empty(kst::IPCPacketCreate(kst::PacketHeader{1, 2, 3, 0}, nullptr, nullptr));
  EXPECT_EQ(empty->payload, nullptr);
  kst::IPCPacketPtr lost(kst::IPCPacketCreateLost(nullptr));
  EXPECT_EQ(lost->task_id, 0u);
  EXPECT_EQ(lost->command, 0u);
  EXPECT_EQ(lost->length, 0u);
}

}  // namespace
