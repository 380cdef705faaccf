// Tandrel's life as the front-end sees it: start-up report, watchdog, shutdown, heartbeats.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <thread>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "tandrel_harness.h"

namespace {

using namespace std::chrono_literals;

// A process for Tandrel to watch in place of a front-end, so the test can end it.
class StandInFrontend {
 public:
  StandInFrontend() {
    kst::SpawnOptions options;
    options.arguments = {"60"};
    pid_ = kst::SpawnProcess("/bin/sleep", options);
  }
  ~StandInFrontend() { End(); }
  int64_t Pid() const { return pid_; }
  void End() {
    if (pid_ <= 0) return;
    kst::KillProcess(pid_, true);
    kst::WaitProcess(pid_, 5000);
    pid_ = -1;
  }

 private:
  int64_t pid_ = -1;
};

// Waits for a process that is not our child to disappear.
bool WaitGone(int64_t pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!kst::IsProcessRunning(pid)) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST(HostLifecycleTest, StartupReportCarriesPidAndTaskId) {
  harness::TandrelOptions options;
  options.task_id = "18446744073709551615";
  harness::Tandrel tandrel(options);
  ASSERT_TRUE(tandrel.Start());
  const frontend::Message& report = tandrel.StartupReport();
  EXPECT_EQ(report.command, 19u);
  EXPECT_EQ(report.status, 1);
  EXPECT_EQ(report.task, 18446744073709551615ull);
  ASSERT_TRUE(report.info);
  rapidjson::Document info;
  info.Parse(report.info->c_str());
  ASSERT_TRUE(info.IsObject());
  EXPECT_EQ(info["pid"].GetInt64(), tandrel.Pid());
  EXPECT_STREQ(info["task_id"].GetString(), "18446744073709551615");
  EXPECT_TRUE(kst::IsDirectory(tandrel.LogFolder()));
}

TEST(HostLifecycleTest, EndsWithinASecondOfItsFrontendAndRemovesItsWorkFolder) {
  StandInFrontend frontend_process;
  harness::TandrelOptions options;
  options.watched_pid = frontend_process.Pid();
  harness::Tandrel tandrel(options);
  ASSERT_TRUE(tandrel.Start());
  std::string work = tandrel.WorkFolder();
  ASSERT_TRUE(kst::CreateDirectories(work + "scratch"));
  ASSERT_TRUE(kst::WriteWholeFile(work + "scratch/file", "data"));

  auto killed_at = std::chrono::steady_clock::now();
  frontend_process.End();
  int code = tandrel.Link().WaitTandrelExit(3s);
  auto took = std::chrono::steady_clock::now() - killed_at;
  EXPECT_EQ(code, 0);
  EXPECT_LT(took, 1500ms);
  EXPECT_FALSE(kst::PathExists(work));
  EXPECT_TRUE(kst::IsDirectory(tandrel.LogFolder()));
}

TEST(HostLifecycleTest, PortZeroMakesNoConnectionButTheProcessStillFollowsItsFrontend) {
  StandInFrontend frontend_process;
  harness::TempFolder temp;
  frontend::StartOptions start;
  start.tandrel_path = harness::TandrelPath();
  start.watched_pid = frontend_process.Pid();
  start.brand = "PortZero";
  start.environment["TMPDIR"] = temp.Path();
  frontend::Link link;  // not listening: Tandrel is told port 0
  int64_t pid = link.StartTandrel(start);
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(kst::IsProcessRunning(pid));
  EXPECT_TRUE(kst::IsDirectory(temp.Path() + "/PortZero/" + harness::TodayText()));
  frontend_process.End();
  EXPECT_EQ(link.WaitTandrelExit(3s), 0);
}

TEST(HostLifecycleTest, StartParametersThatAreNotJsonLeaveEverythingZero) {
  harness::TempFolder temp;
  kst::SpawnOptions options;
  options.arguments = {"this is not json"};
  options.extra_env["TMPDIR"] = temp.Path();
  int64_t pid = kst::SpawnProcess(harness::TandrelPath(), options);
  ASSERT_GT(pid, 0);
  // Process ID 0 is never running, so the watchdog ends the process at once.
  EXPECT_EQ(kst::WaitProcess(pid, 5000), 0);
  EXPECT_TRUE(kst::IsDirectory(temp.Path() + "/" + harness::TodayText()));
}

TEST(HostLifecycleTest, IdleFrontendConnectionReceivesHeartbeats) {
  harness::TandrelOptions options;
  options.environment["TANDREL_HEARTBEAT_MS"] = "150";
  harness::Tandrel tandrel(options);
  ASSERT_TRUE(tandrel.Start());
  std::this_thread::sleep_for(1000ms);
  EXPECT_GE(tandrel.Link().HeartbeatsReceived(), 2);
  // Heartbeats travel between packets: the link still carries commands afterwards.
  auto replies = tandrel.Run(600, 5, R"({"info":{"task_id":"123"}})");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, 1);
}

TEST(HostLifecycleTest, FrontendToolSessionEndsTandrelWhenItEnds) {
  harness::TempFolder temp;
  std::string out = temp.Path() + "/out.jsonl";
  // The session reads an empty standard input, so it ends right after its start-up.
  kst::SpawnOptions options;
  options.arguments = {"-c", "exec \"$0\" \"$@\" < /dev/null", harness::TandrelctlPath(), "session", "--tandrel",
                       harness::TandrelPath(), "--linger-ms", "100"};
  options.extra_env["TMPDIR"] = temp.Path();
  options.extra_env["USBMUXD_SOCKET_ADDRESS"] = "UNIX:" + temp.Path() + "/no-device-service";
  options.stdout_path = out;
  int64_t ctl = kst::SpawnProcess("/bin/sh", options);
  ASSERT_GT(ctl, 0);
  EXPECT_EQ(kst::WaitProcess(ctl, 20000), 0);
  std::string printed;
  ASSERT_TRUE(kst::ReadWholeFile(out, &printed));
  // Messages come in arrival order: the device-monitor report, then the start-up report.
  size_t at = printed.find(R"({"command":19,)");
  ASSERT_NE(at, std::string::npos) << printed;
  rapidjson::Document report;
  report.Parse(printed.substr(at, printed.find('\n', at) - at).c_str());
  ASSERT_TRUE(report.IsObject()) << printed;
  int64_t tandrel_pid = report["info"]["pid"].GetInt64();
  EXPECT_TRUE(WaitGone(tandrel_pid, 2000ms));
}

}  // namespace
