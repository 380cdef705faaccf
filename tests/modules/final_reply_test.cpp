// Exactly one final reply per command, through the front-end link: task IDs reused at once, and
// every way a staged transfer can end (bad request, unreadable block, stop while idle, a stage
// that does not exist, a message too large to build) with requests still in flight.
#include <gtest/gtest.h>

#include "module_fixture.h"
#include "platform/kst_fs.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kBlock = 2097152;
constexpr const char* kFile = "/Downloads/three.bin";

class FinalReplyTest : public ModuleTest {
 protected:
  void SetUp() override {
    StartWith("demo", [this](const std::string& dir) {
      profile = dir;
      ASSERT_TRUE(kst::CreateDirectories(DeviceFile("/Downloads")));
      ASSERT_TRUE(kst::WriteWholeFile(DeviceFile(kFile), std::string(3 * kBlock, 'x')));
    });
  }
  // Opens a download of the three-block file; false when its description does not come.
  bool OpenDownload(uint64_t task) {
    tandrel->Link().Send(702, task, DeviceJson(R"("stage":1,"code":0)"),
                         Compressed(std::string(R"({"path":")") + kFile + "\"}"));
    auto opened = tandrel->Link().NextFor(task, 20s);
    return opened && opened->status == 2 && opened->stage == 1;
  }
  void SendStage(uint32_t command, uint64_t task, int stage, const std::string& attachment) {
    tandrel->Link().Send(command, task, DeviceJson(R"("stage":)" + std::to_string(stage) + R"(,"code":0)"), attachment);
  }
  std::string BlockRequest(int64_t id) {
    uint64_t offset = static_cast<uint64_t>(id - 1) * kBlock;
    return Compressed(R"({"id":)" + std::to_string(id) + R"(,"offset":)" + std::to_string(offset) +
                      R"(,"offset_length":)" + std::to_string(kBlock) + "}");
  }
  // Every message of the task up to its final reply, then a quiet spell in which nothing more of
  // the task may arrive; returns the final reply.
  frontend::Message OnlyFinalReply(uint64_t task) {
    auto messages = tandrel->Link().CollectUntilFinal(task, 30s);
    EXPECT_FALSE(messages.empty());
    if (messages.empty()) return {};
    EXPECT_TRUE(frontend::IsFinalStatus(messages.back().status));
    auto after = tandrel->Link().CollectUntilFinal(task, 700ms);
    EXPECT_TRUE(after.empty()) << "a second final reply with code " << after.back().code;
    return messages.back();
  }
};

TEST_F(FinalReplyTest, TaskIdReusedAsSoonAsTheFinalReplyArrivesIsANewCommand) {
  const std::string empty_export = Compressed(R"({"folder":")" + profile + R"(","items":[]})");
  for (int round = 0; round < 200; ++round) {
    auto replies = tandrel->Run(701, 77, DeviceJson(), empty_export, 20s);
    ASSERT_EQ(replies.size(), 1u) << "round " << round;
    ASSERT_EQ(replies[0].code, 0) << "round " << round;
    ASSERT_EQ(replies[0].status, 1) << "round " << round;
  }
}

TEST_F(FinalReplyTest, BadBlockRequestEndsTheDownloadOnceWithRequestsInFlight) {
  uint64_t task = NextTask();
  ASSERT_TRUE(OpenDownload(task));
  SendStage(702, task, 2, "not a compressed request");
  SendStage(702, task, 2, BlockRequest(1));
  SendStage(702, task, 2, BlockRequest(2));
  auto final_reply = OnlyFinalReply(task);
  EXPECT_EQ(final_reply.code, 8);
  EXPECT_EQ(final_reply.status, 6);
}

TEST_F(FinalReplyTest, UnreadableBlockEndsTheDownloadOnceWithRequestsInFlight) {
  uint64_t task = NextTask();
  ASSERT_TRUE(OpenDownload(task));
  SendStage(702, task, 2, BlockRequest(99));  // no such block in the plan
  SendStage(702, task, 2, BlockRequest(1));
  SendStage(702, task, 2, BlockRequest(2));
  auto final_reply = OnlyFinalReply(task);
  EXPECT_EQ(final_reply.code, 13);
}

TEST_F(FinalReplyTest, StopOfAnIdleTransferGivesItsOneFinalReply) {
  uint64_t download = NextTask();
  ASSERT_TRUE(OpenDownload(download));
  auto stop = Run(600, R"({"info":{"task_id":")" + std::to_string(download) + "\"}}");
  ASSERT_EQ(stop.size(), 1u);
  EXPECT_EQ(stop[0].code, 0);
  auto stopped = OnlyFinalReply(download);
  EXPECT_EQ(stopped.code, 6);
  EXPECT_EQ(stopped.status, 5);

  // A transfer that already ended is not answered again by a stop.
  uint64_t ended = NextTask();
  ASSERT_TRUE(OpenDownload(ended));
  SendStage(702, ended, 3, "");
  EXPECT_EQ(OnlyFinalReply(ended).code, 0);
  ASSERT_EQ(Run(600, R"({"info":{"task_id":")" + std::to_string(ended) + "\"}}").size(), 1u);
  EXPECT_TRUE(tandrel->Link().CollectUntilFinal(ended, 1s).empty());
}

TEST_F(FinalReplyTest, StagesOtherThanOneTwoAndThreeAreRefusedAndEndTheTransfer) {
  uint64_t task = NextTask();
  ASSERT_TRUE(OpenDownload(task));
  SendStage(702, task, 7, "");
  SendStage(702, task, 2, BlockRequest(1));  // in flight: the transfer has ended
  auto refused = OnlyFinalReply(task);
  EXPECT_EQ(refused.code, 8);

  uint64_t upload = NextTask();
  SendStage(703, upload, 0, "");
  EXPECT_EQ(OnlyFinalReply(upload).code, 8);
  // A later stage for a task ID that never had a transfer is told so.
  uint64_t stray = NextTask();
  SendStage(703, stray, 3, "");
  EXPECT_EQ(OnlyFinalReply(stray).code, 15);
}

TEST_F(FinalReplyTest, MessageTooLargeToBuildEndsTheCommandWithCode80) {
  uint64_t task = NextTask();
  ASSERT_TRUE(OpenDownload(task));
  // The data message echoes the request as its info; this one cannot fit a message text.
  std::string padded = R"({"id":1,"offset":0,"offset_length":2097152,"pad":")" + std::string(70000, 'p') + "\"}";
  SendStage(702, task, 2, Compressed(padded));
  SendStage(702, task, 2, BlockRequest(2));
  auto final_reply = OnlyFinalReply(task);
  EXPECT_EQ(final_reply.code, 80);
  EXPECT_EQ(final_reply.status, 6);
  // The link and the module still work.
  uint64_t next = NextTask();
  ASSERT_TRUE(OpenDownload(next));
  SendStage(702, next, 3, "");
  EXPECT_EQ(OnlyFinalReply(next).code, 0);
}

}  // namespace
