// Commands through the link: replies, the stop command, malformed input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "ipc/ipc_packet.h"
#include "tandrel_harness.h"

namespace {

using namespace std::chrono_literals;

class CommandPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tandrel.Start()); }
  // True when no message for `task` arrives within `wait`.
  bool Silent(uint64_t task, std::chrono::milliseconds wait = 700ms) {
    return tandrel.Link().CollectUntilFinal(task, wait).empty();
  }
  harness::Tandrel tandrel;
};

TEST_F(CommandPathTest, UnparsableJsonGetsExactlyOneReplyWithCode21) {
  auto replies = tandrel.Run(600, 11, "{not json");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 6);
  EXPECT_EQ(replies[0].code, 21);
  EXPECT_EQ(replies[0].command, 600u);
  EXPECT_EQ(replies[0].uuid, "");
  EXPECT_FALSE(replies[0].info);
  EXPECT_TRUE(Silent(11));
}

TEST_F(CommandPathTest, StopOfAnUnknownIdIsAcknowledgedAndThatIdIsThenDropped) {
  auto replies = tandrel.Run(600, 12, R"({"info":{"task_id":"4242"}})");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 1);
  EXPECT_EQ(replies[0].code, 0);
  ASSERT_TRUE(tandrel.Link().Send(600, 4242, R"({"info":{"task_id":"1"}})"));
  EXPECT_TRUE(Silent(4242));
}

TEST_F(CommandPathTest, StopWithoutTaskIdIsABadCommand) {
  for (const char* json : {R"({})", R"({"info":{}})", R"({"info":{"task_id":5}})", R"([1,2])"}) {
    auto replies = tandrel.Run(600, 13, json);
    ASSERT_EQ(replies.size(), 1u) << json;
    EXPECT_EQ(replies[0].code, 21) << json;
  }
}

TEST_F(CommandPathTest, CommandWithoutAModuleIsDroppedSilently) {
  ASSERT_TRUE(tandrel.Link().Send(424242, 14, "{}"));
  EXPECT_TRUE(Silent(14));
  // The link still works afterwards.
  auto replies = tandrel.Run(600, 15, R"({"info":{"task_id":"1"}})");
  ASSERT_EQ(replies.size(), 1u);
}

TEST_F(CommandPathTest, MalformedPayloadsNeverCrashTheHost) {
  frontend::Link& link = tandrel.Link();
  std::string no_zero("1", 1);
  std::string only_format("1\0", 2);
  std::string binary("\xff\xfe\0\x01\x02\0\0", 7);
  EXPECT_TRUE(link.SendRaw(std::string("kCommand") + std::string(100, '\x7f')));  // absurd length
  // A stream that lost its step resynchronises on the next chunk that starts a packet.
  std::this_thread::sleep_for(200ms);
  uint8_t header[kst::kPacketHeaderSize];
  for (const std::string& payload : {std::string(), no_zero, only_format, binary}) {
    kst::EncodePacketHeader(kst::PacketHeader{16, 600, 0, payload.size()}, header);
    EXPECT_TRUE(link.SendRaw(std::string(reinterpret_cast<char*>(header), sizeof(header)) + payload));
  }
  auto answers = link.CollectUntilFinal(16, 2s);
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers[0].code, 21);  // the first malformed command is answered as a bad command
  auto replies = tandrel.Run(600, 17, R"({"info":{"task_id":"1"}})");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].code, 0);
}

// The size of Tandrel's address space, from /proc; 0 when it cannot be read.
int64_t VirtualMemoryKb(int64_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::atoll(line.c_str() + 7);
  }
  return 0;
}

TEST_F(CommandPathTest, HeaderClaimingAHugePayloadReservesNothingForIt) {
  // Every worker has run once, so that their own allocator arenas exist before measuring.
  for (uint64_t task = 200; task < 240; ++task) ASSERT_TRUE(tandrel.Link().Send(600, task, R"({"info":{"task_id":"1"}})"));
  for (uint64_t task = 200; task < 240; ++task) ASSERT_EQ(tandrel.Link().CollectUntilFinal(task, 10s).size(), 1u);
  int64_t before = VirtualMemoryKb(tandrel.Pid());
  ASSERT_GT(before, 0);
  uint8_t header[kst::kPacketHeaderSize];
  kst::EncodePacketHeader(kst::PacketHeader{18, 600, 0, kst::kMaxPacketPayload}, header);
  ASSERT_TRUE(tandrel.Link().SendRaw(std::string(reinterpret_cast<char*>(header), sizeof(header)) + "1"));
  std::this_thread::sleep_for(300ms);  // a chunk of its own, so the next packet restarts the stream
  auto replies = tandrel.Run(600, 19, R"({"info":{"task_id":"1"}})");
  ASSERT_EQ(replies.size(), 1u);
  int64_t grown_kb = VirtualMemoryKb(tandrel.Pid()) - before;
  EXPECT_LT(grown_kb, static_cast<int64_t>(kst::kMaxPacketPayload / 1024 / 2)) << "grew by " << grown_kb << " KiB";
}

TEST_F(CommandPathTest, ManyConcurrentCommandsEachGetOneReply) {
  for (uint64_t task = 100; task < 160; ++task) {
    ASSERT_TRUE(tandrel.Link().Send(600, task, R"({"info":{"task_id":"99999"}})"));
  }
  for (uint64_t task = 100; task < 160; ++task) {
    auto replies = tandrel.Link().CollectUntilFinal(task, 5s);
    ASSERT_EQ(replies.size(), 1u) << task;
    EXPECT_EQ(replies[0].code, 0);
  }
}

}  // namespace
