// A process that crashes leaves one ZIP archive in its log folder holding the dump, Crash.json and
// its log; everything else that is not an archive is gone, earlier archives stay.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <unzip.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "tandrel_harness.h"

namespace {

namespace fs = std::filesystem;

// Every entry of a ZIP archive: name → content.
std::map<std::string, std::string> ReadArchive(const std::string& path) {
  std::map<std::string, std::string> entries;
  unzFile zip = unzOpen64(path.c_str());
  if (!zip) return entries;
  for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
    char name[512];
    unz_file_info64 info{};
    unzGetCurrentFileInfo64(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0);
    std::string content(info.uncompressed_size, '\0');
    unzOpenCurrentFile(zip);
    unzReadCurrentFile(zip, content.data(), static_cast<unsigned>(content.size()));
    unzCloseCurrentFile(zip);
    entries[name] = content;
  }
  unzClose(zip);
  return entries;
}

class CrashReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = temp_.Path() + "/logs";
    ASSERT_TRUE(kst::CreateDirectories(log_ + "/Tandrel-1"));
    ASSERT_TRUE(kst::WriteWholeFile(log_ + "/Earlier-1.ZIP", "earlier archive"));
    ASSERT_TRUE(kst::WriteWholeFile(log_ + "/stale.txt", "loose file"));
  }
  // Runs the child to its crash and returns its exit code.
  int CrashChild() {
    kst::SpawnOptions options;
    options.arguments = {log_, "Tandrel Suite", "3.1.4"};
    int64_t pid = kst::SpawnProcess(std::string(TANDREL_BIN_DIR) + "/crash_child", options);
    child_pid_ = pid;
    return kst::WaitProcess(pid, 20000);
  }
  harness::TempFolder temp_;
  std::string log_;
  int64_t child_pid_ = 0;
};

TEST_F(CrashReportTest, ArchiveHoldsDumpReportAndLogAndOnlyArchivesRemain) {
  EXPECT_EQ(CrashChild(), 128 + SIGSEGV);

  std::string archive;
  for (const auto& entry : fs::directory_iterator(log_)) {
    std::string name = entry.path().filename().string();
    if (entry.is_directory()) continue;
    EXPECT_NE(name.find(".zip") == std::string::npos && name.find(".ZIP") == std::string::npos, true) << name;
    if (name != "Earlier-1.ZIP") archive = entry.path().string();
  }
  EXPECT_TRUE(fs::exists(log_ + "/Earlier-1.ZIP"));
  EXPECT_TRUE(fs::is_directory(log_ + "/Tandrel-1"));
  std::smatch stamp;
  std::string archive_name = fs::path(archive).filename().string();
  ASSERT_TRUE(std::regex_match(archive_name, stamp, std::regex(R"((\d{14})-(\d+)\.zip)"))) << archive_name;
  EXPECT_EQ(stamp[2].str(), std::to_string(child_pid_));

  auto entries = ReadArchive(archive);
  std::string dump = entries[stamp[1].str() + ".dmp"];
  EXPECT_NE(dump.find("signal 11 (SEGV)"), std::string::npos) << dump;
  EXPECT_NE(dump.find("fault address (nil)"), std::string::npos);
  EXPECT_NE(dump.find("rip"), std::string::npos);
  EXPECT_NE(dump.find("(crashed)"), std::string::npos);
  EXPECT_NE(dump.find("CrashOnPurpose"), std::string::npos);
  EXPECT_NE(dump.find("ParkedWorker"), std::string::npos) << "every thread's backtrace";

  rapidjson::Document report;
  report.Parse(entries["Crash.json"].c_str());
  ASSERT_TRUE(report.IsObject()) << entries["Crash.json"];
  auto member = report.MemberBegin();
  ASSERT_EQ(report.MemberCount(), 3u);
  EXPECT_STREQ(member->name.GetString(), "Product");
  EXPECT_STREQ(member->value.GetString(), "Tandrel Suite");
  EXPECT_STREQ((++member)->name.GetString(), "Version");
  EXPECT_STREQ(member->value.GetString(), "3.1.4");
  EXPECT_STREQ((++member)->name.GetString(), "System");
  EXPECT_TRUE(std::regex_match(std::string(member->value.GetString()),
                               std::regex(R"(\d+\.\d+ Build \d+ Service Pack \d+\.\d+)")));

  bool log_packed = false;
  for (const auto& [name, content] : entries) {
    if (name.find(".log.") != std::string::npos && content.find("about to crash on purpose") != std::string::npos) {
      log_packed = true;
    }
  }
  EXPECT_TRUE(log_packed);
}

}  // namespace
