// A front-end that stops reading: device handling goes on meanwhile, and once sends have made no
// progress for the send time-out the connection counts as lost.
#include <gtest/gtest.h>

#include <thread>

#include "module_fixture.h"
#include "platform/kst_fs.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kBlock = 2097152;
constexpr int kBlocks = 12;  // more than the sockets of both ends buffer

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class StalledFrontendTest : public ModuleTest {
 protected:
  void StartWithLargeFile(const std::string& send_timeout_ms) {
    environment["TANDREL_SEND_TIMEOUT_MS"] = send_timeout_ms;
    StartWith("demo", [this](const std::string& dir) {
      profile = dir;
      ASSERT_TRUE(kst::CreateDirectories(DeviceFile("/Downloads")));
      ASSERT_TRUE(kst::WriteWholeFile(DeviceFile("/Downloads/large.bin"), std::string(kBlocks * kBlock, 'z')));
    });
  }
  // Stops reading and asks for every block of the large file, so that Tandrel's sends fill the
  // connection and then wait.
  void StallTheLink() {
    auto& link = tandrel->Link();
    link.PauseReading(true);
    uint64_t task = NextTask();
    link.Send(702, task, DeviceJson(R"("stage":1,"code":0)"), Compressed(R"({"path":"/Downloads/large.bin"})"));
    for (int id = 1; id <= kBlocks; ++id) {
      std::string request = R"({"id":)" + std::to_string(id) + R"(,"offset":)" + std::to_string((id - 1) * kBlock) +
                            R"(,"offset_length":)" + std::to_string(kBlock) + "}";
      link.Send(702, task, DeviceJson(R"("stage":2,"code":0)"), Compressed(request));
    }
    std::this_thread::sleep_for(1s);  // the answers pile up in the socket buffers
  }
};

TEST_F(StalledFrontendTest, DevicesAreHandledWhileTheFrontendReadsNothing) {
  StartWithLargeFile("120000");
  StallTheLink();
  const std::string session = "lockdown: StartSession";
  size_t sessions = Count(vd.ServerLog(), session);
  ASSERT_TRUE(vd.Detach(udid));
  ASSERT_TRUE(vd.Attach(profile));
  // The monitor opens the device again at once, although every message to the front-end waits.
  bool reopened = false;
  for (int i = 0; i < 300 && !reopened; ++i) {
    std::this_thread::sleep_for(100ms);
    reopened = Count(vd.ServerLog(), session) > sessions;
  }
  EXPECT_TRUE(reopened) << vd.ServerLog();
  tandrel->Link().PauseReading(false);
  auto gone = tandrel->Link().WaitFor(8, 60s);
  ASSERT_TRUE(gone);
  auto ready = tandrel->Link().WaitFor(1, 60s);
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->uuid, udid);
  EXPECT_FALSE(tandrel->Link().Lost());
}

TEST_F(StalledFrontendTest, FrontendThatStopsReadingIsTreatedAsGone) {
  StartWithLargeFile("1000");
  StallTheLink();
  // Well past the time-out: Tandrel has given the connection up and closed its end.
  std::this_thread::sleep_for(4s);
  tandrel->Link().PauseReading(false);
  while (tandrel->Link().Next(30s)) {
  }
  EXPECT_TRUE(tandrel->Link().Lost());
}

}  // namespace
