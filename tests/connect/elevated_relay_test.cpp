// Commands 17 and 18 relayed to an elevated instance that Tandrel starts itself, with stand-ins
// for "msiexec" and "wmic" on PATH; and a stranger on the elevated link that gets nothing through.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "connect_fixture.h"
#include "frontend_message.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "platform/kst_socket.h"
#include "vdevice_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void WriteScript(const std::string& path, const std::string& text) {
  kst::WriteWholeFile(path, text);
  fs::permissions(path, fs::perms::owner_all);
}

class ElevatedRelayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!kst::RunningAsRoot()) return;  // the elevated instance would need pkexec
    stubs_ = new harness::TempFolder();
    WriteScript(stubs_->Path() + "/msiexec",
                // The call is logged in one write: the install and the check run at the same time, and
                // lines written piece by piece interleave.
                "#!/bin/sh\nline=''\nfor a in \"$@\"; do line=\"$line[$a]\"; done\nprintf '%s\\n' \"$line\" >> \"$STUB_LOG\"\n"
                "case \"$2\" in *bad*) echo 'error 1603: the installation failed';; *) echo installed;; esac\n");
    WriteScript(stubs_->Path() + "/wmic",
                "#!/bin/sh\necho \"wmic $*\" >> \"$STUB_LOG\"\nprintf 'Name\\r\\nAppleInc.iTunes_12.13\\r\\n'\n");
    device_ = new vdevice_test::VdeviceFixture();
    ASSERT_TRUE(device_->Start({device_->MakeProfile("demo")}));
    device_->ExportSocketAddress();
    harness::TandrelOptions options;
    options.open_log = 1;
    options.environment["PATH"] = stubs_->Path() + ":" + kst::GetEnv("PATH");
    options.environment["STUB_LOG"] = stubs_->Path() + "/calls.log";
    tandrel_ = new harness::Tandrel(options);
    ASSERT_TRUE(tandrel_->Start());
  }
  static void TearDownTestSuite() {
    delete tandrel_;
    delete device_;
    delete stubs_;
  }
  void SetUp() override {
    if (!kst::RunningAsRoot()) GTEST_SKIP() << "starting the elevated instance needs root here";
  }
  static std::vector<std::string> Calls() {
    std::vector<std::string> lines;
    std::ifstream file(stubs_->Path() + "/calls.log");
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  static rapidjson::Document Info(const frontend::Message& message) {
    rapidjson::Document info;
    info.Parse(message.info ? message.info->c_str() : "");
    return info;
  }

  static harness::TempFolder* stubs_;
  static vdevice_test::VdeviceFixture* device_;
  static harness::Tandrel* tandrel_;
};

harness::TempFolder* ElevatedRelayTest::stubs_ = nullptr;
vdevice_test::VdeviceFixture* ElevatedRelayTest::device_ = nullptr;
harness::Tandrel* ElevatedRelayTest::tandrel_ = nullptr;

// Runs in order: the first test starts the elevated instance.
TEST_F(ElevatedRelayTest, A_CommandsSentBeforeTheElevatedInstanceExistsAreAnsweredOnceItConnects) {
  auto& link = tandrel_->Link();
  ASSERT_TRUE(link.Send(17, 1700, R"({"info":["/tmp/drivers/One.msi","/tmp/drivers/Two.msi"]})"));
  ASSERT_TRUE(link.Send(18, 1800, R"({"info":{}})"));
  auto install = link.CollectUntilFinal(1700, 30s);
  ASSERT_EQ(install.size(), 3u);
  for (const auto& message : install) {
    EXPECT_EQ(message.command, 17u);
    EXPECT_EQ(message.stage, 2);
    EXPECT_EQ(message.code, install.front().code) << "every message carries the connection token";
  }
  EXPECT_GT(install.front().code, 0);
  EXPECT_LT(install.front().code, 1000) << "a small number, not an address";
  EXPECT_EQ(Info(install[0])["index"].GetInt(), 0);
  EXPECT_EQ(Info(install[1])["index"].GetInt(), 1);
  EXPECT_EQ(Info(install[1])["count"].GetInt(), 2);
  EXPECT_EQ(install[2].status, 1);
  EXPECT_EQ(Info(install[2])["error"].GetInt(), 0);

  auto check = link.CollectUntilFinal(1800, 30s);
  ASSERT_EQ(check.size(), 1u);
  EXPECT_EQ(check[0].status, 1);
  EXPECT_EQ(Info(check[0])["error"].GetInt(), 0);

  // 17 and 18 run side by side in the elevated instance: only each one's own calls are ordered.
  std::vector<std::string> installs, checks;
  for (const std::string& call : Calls()) (call.rfind("wmic", 0) == 0 ? checks : installs).push_back(call);
  EXPECT_EQ(installs, (std::vector<std::string>{
                          "[/package][/tmp/drivers/One.msi][/passive][/norestart][/qn][/l*][/tmp/drivers/One.msi.log]",
                          "[/package][/tmp/drivers/Two.msi][/passive][/norestart][/qn][/l*][/tmp/drivers/Two.msi.log]"}));
  EXPECT_EQ(checks, std::vector<std::string>{"wmic path Win32_InstalledStoreProgram get name"});
}

TEST_F(ElevatedRelayTest, B_ALaterCommandIsRelayedAtOnceAndAnInstallerErrorGives51) {
  auto install = tandrel_->Run(17, 1701, R"({"info":["/tmp/drivers/bad.msi","/tmp/drivers/Never.msi"]})", "", 30s);
  ASSERT_EQ(install.size(), 1u);
  EXPECT_EQ(install[0].status, 6);
  EXPECT_EQ(Info(install[0])["error"].GetInt(), 51);
  auto empty = tandrel_->Run(17, 1702, R"({"info":[]})", "", 30s);
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(Info(empty[0])["error"].GetInt(), 51);
  int elevated_instances = 0;
  for (const auto& line : connect_test::LogLines(tandrel_->LogFolder())) {
    if (line.find("the elevated instance connected") != std::string::npos) ++elevated_instances;
  }
  EXPECT_EQ(elevated_instances, 1);
}

TEST_F(ElevatedRelayTest, C_AStrangerOnTheElevatedLinkGetsNothingThrough) {
  // The test runner may start this test in a process of its own: make sure the link is up.
  ASSERT_EQ(tandrel_->Run(18, 1802, R"({"info":{}})", "", 30s).size(), 1u);
  int port = 0;
  std::regex listening(R"(elevated link listens on 127\.0\.0\.1:(\d+))");
  for (const auto& line : connect_test::LogLines(tandrel_->LogFolder())) {
    std::smatch match;
    if (std::regex_search(line, match, listening)) port = std::stoi(match[1].str());
  }
  ASSERT_GT(port, 0);
  kst::KstSocket stranger = kst::TcpConnectLoopback(static_cast<uint16_t>(port));
  ASSERT_TRUE(stranger.Valid());
  // A reply that names the front-end's connection token, as the elevated instance would send it.
  std::string payload = frontend::EncodeCommandPayload(1, R"({"stage":2,"code":1,"uuid":"","type":0,"info":{"error":0}})", "");
  kst::PacketHeader header{1799, 17, 1, payload.size()};
  uint8_t bytes[kst::kPacketHeaderSize];
  kst::EncodePacketHeader(header, bytes);
  ASSERT_TRUE(stranger.SendAll(bytes, sizeof(bytes)));
  ASSERT_TRUE(stranger.SendAll(payload.data(), payload.size()));
  char buffer[64];
  EXPECT_LE(stranger.Recv(buffer, sizeof(buffer)), 0) << "the link closes the stranger's connection";
  // The front-end link still works and heard nothing of task 1799.
  auto check = tandrel_->Run(18, 1801, R"({"info":{}})", "", 30s);
  ASSERT_EQ(check.size(), 1u);
  EXPECT_FALSE(tandrel_->Link().NextFor(1799, 0ms));
}

}  // namespace

namespace {

TEST(ElevatedStartTest, CommandsWaitingForAnInstanceThatNeverConnectsGet53) {
  harness::TandrelOptions options;
  options.environment["TANDREL_ELEVATE_WITH"] = "/bin/false";  // as if the person declined the prompt
  harness::Tandrel tandrel(options);
  ASSERT_TRUE(tandrel.Start());
  for (uint64_t task : {1750u, 1751u}) {
    auto messages = tandrel.Run(17, task, R"({"info":["/tmp/drivers/One.msi"]})", "", 20s);
    ASSERT_EQ(messages.size(), 1u) << "task " << task;
    EXPECT_EQ(messages[0].code, 53);
    EXPECT_EQ(messages[0].status, 6);
  }
}

}  // namespace
