// Command 16 against a package server on the loopback interface: checksums, packages already
// present, missing files and a stop during a download.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <filesystem>

#include "connect_fixture.h"
#include "platform/kst_fs.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using connect_test::kPackages;
using connect_test::PackageServer;

// Three packages with their MD5s.
const std::string kContent[3] = {"alpha", "bravo-64", "charlie-device"};
const std::string kMd5[3] = {"2c1743a391305fbf367df8e4f069f9f9", "da758e30e93f706c43c66844f89bcc0e",
                             "a14b9f9de217f2c7766bd1ceae8a12e3"};

class DriverDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Started());
    ASSERT_TRUE(tandrel_.Start());
  }
  void PutAll() {
    for (int i = 0; i < 3; ++i) {
      server_.Put(kPackages[i], kContent[i]);
      server_.Put(kPackages[i] + ".txt", kMd5[i] + "\n");
    }
  }
  std::string DriverFolder() { return tandrel_.LogFolder() + "/ios_driver/"; }
  std::string Local(int i) { return DriverFolder() + fs::path(kPackages[i]).filename().string(); }
  // Runs command 16; returns the final reply and the verified paths of the stage-3 message.
  frontend::Message Download(std::vector<std::string>* paths, uint64_t task = 16) {
    auto messages = tandrel_.Run(16, task, "{\"info\":{\"url\":\"" + server_.Url() + "\"}}");
    EXPECT_FALSE(messages.empty());
    if (messages.empty()) return frontend::Message();
    for (const auto& message : messages) {
      if (message.stage != 3 || !message.info) continue;
      rapidjson::Document list;
      list.Parse(message.info->c_str());
      for (const auto& path : list.GetArray()) paths->push_back(path.GetString());
    }
    return messages.back();
  }
  bool Requested(const std::string& line) {
    auto lines = server_.Requests();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  PackageServer server_;
  harness::Tandrel tandrel_;
};

TEST_F(DriverDownloadTest, DownloadsEveryPackageAndSkipsOneAlreadyPresent) {
  PutAll();
  ASSERT_TRUE(kst::CreateDirectories(DriverFolder()));
  ASSERT_TRUE(kst::WriteWholeFile(Local(0), kContent[0]));
  std::vector<std::string> paths;
  frontend::Message reply = Download(&paths);
  EXPECT_EQ(reply.code, 0);
  EXPECT_EQ(reply.status, 1);
  EXPECT_EQ(paths, (std::vector<std::string>{Local(0), Local(1), Local(2)}));
  for (int i = 0; i < 3; ++i) {
    std::string content;
    ASSERT_TRUE(kst::ReadWholeFile(Local(i), &content));
    EXPECT_EQ(content, kContent[i]);
  }
  EXPECT_FALSE(Requested("GET /" + kPackages[0])) << "a package present and correct is not fetched again";
  EXPECT_TRUE(Requested("GET /" + kPackages[1]));
  EXPECT_TRUE(Requested("HEAD /" + kPackages[1] + ".txt"));
}

TEST_F(DriverDownloadTest, WrongChecksumGives50AndKeepsWhatWasVerified) {
  PutAll();
  server_.Put(kPackages[1] + ".txt", kMd5[0]);
  std::vector<std::string> paths;
  frontend::Message reply = Download(&paths);
  EXPECT_EQ(reply.code, 50);
  EXPECT_EQ(reply.status, 6);
  EXPECT_EQ(paths, std::vector<std::string>{Local(0)});
  EXPECT_FALSE(Requested("HEAD /" + kPackages[2] + ".txt")) << "the loop stops at the bad package";
}

TEST_F(DriverDownloadTest, EmptyOrMissingChecksumFileLeavesAPackageOutWithoutAnError) {
  PutAll();
  server_.Put(kPackages[0] + ".txt", "");
  server_.Remove(kPackages[1] + ".txt");
  std::vector<std::string> paths;
  frontend::Message reply = Download(&paths);
  EXPECT_EQ(reply.code, 0);
  EXPECT_EQ(paths, std::vector<std::string>{Local(2)});
  EXPECT_FALSE(Requested("GET /" + kPackages[0]));
}

TEST_F(DriverDownloadTest, MissingPackageGives50) {
  PutAll();
  server_.Remove(kPackages[1]);
  std::vector<std::string> paths;
  frontend::Message reply = Download(&paths);
  EXPECT_EQ(reply.code, 50);
  EXPECT_EQ(paths, std::vector<std::string>{Local(0)});
}

TEST_F(DriverDownloadTest, BadJsonGives8WithAnEmptyList) {
  auto messages = tandrel_.Run(16, 170, "{not json");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, 8);
}

TEST(DriverDownloadStopTest, StopDuringADownloadEndsItWithCode6) {
  PackageServer server({"AppleApplicationSupport.msi"});
  ASSERT_TRUE(server.Started());
  server.Put(kPackages[0], std::string(3 * 1024 * 1024, 'z'));
  server.Put(kPackages[0] + ".txt", "00000000000000000000000000000000");
  harness::Tandrel tandrel;
  ASSERT_TRUE(tandrel.Start());
  ASSERT_TRUE(tandrel.Link().Send(16, 180, "{\"info\":{\"url\":\"" + server.Url() + "/\"}}"));
  auto progress = tandrel.Link().NextFor(180, 20s);
  ASSERT_TRUE(progress);
  ASSERT_EQ(progress->stage, 2) << "a progress message while the package is arriving";
  tandrel.Run(600, 181, R"({"info":{"task_id":"180"}})");
  auto rest = tandrel.Link().CollectUntilFinal(180, 20s);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest.back().code, 6);
  EXPECT_EQ(rest.back().status, 5);
  auto size = fs::file_size(tandrel.LogFolder() + "/ios_driver/AppleApplicationSupport.msi");
  EXPECT_LT(size, 3u * 1024 * 1024) << "the transfer ended before the whole package";
}

}  // namespace
