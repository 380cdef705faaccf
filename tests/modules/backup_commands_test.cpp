// The backup module's commands that need no backup transfer: listing backups, device states,
// the desktop media application, and restore requests that are refused before they start.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "module_fixture.h"
#include "platform/kst_process.h"
#include "platform/vel_json_util.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Plist(const std::string& dict_inside) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + dict_inside + "</dict></plist>";
}

void MakeBackup(const fs::path& folder, const std::string& name, size_t payload) {
  fs::create_directories(folder / "3d");
  WriteText(folder / "Info.plist", Plist("<key>Device Name</key><string>" + name +
                                         "</string><key>Target Identifier</key><string>ABC</string>"
                                         "<key>Last Backup Date</key><date>2026-03-09T14:05:07Z</date>"));
  WriteText(folder / "Manifest.plist", Plist("<key>IsEncrypted</key><false/>"));
  WriteText(folder / "Status.plist", Plist(""));
  WriteText(folder / "3d" / "3d0d7e5fb2ce288813306e4d4636395e047a3d28", std::string(payload, 's'));
}

rapidjson::Document InfoOf(const frontend::Message& message) {
  rapidjson::Document info;
  if (message.info) VelJsonUtil::Parse(*message.info, &info);
  return info;
}

class BackupCommandsTest : public ModuleTest {
 protected:
  void SetUp() override {
    scratch_ = fs::temp_directory_path() / ("backup_commands_" + std::to_string(kst::CurrentProcessId()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "data");
    kst::SetEnv("XDG_DATA_HOME", (scratch_ / "data").string());  // the default root of the Tandrel started below
    StartWith("demo");
  }
  void TearDown() override { fs::remove_all(scratch_); }
  fs::path scratch_;
};

TEST_F(BackupCommandsTest, ListingReportsEachBackupOnceThenAgainWithItsSize) {
  const fs::path root = scratch_ / "root";
  MakeBackup(root / "first", "Phone", 1000);
  MakeBackup(root / "second", "Pad", 2000);
  fs::create_directories(root / "unrelated");
  WriteText(root / "unrelated" / "Info.plist", Plist(""));
  const fs::path default_root = scratch_ / "data" / "Apple Computer" / "MobileSync" / "Backup";
  MakeBackup(default_root / "third", "Default", 10);

  const std::string paths = R"({"paths":[")" + root.string() + R"(",")" + root.string() + R"(/",")" +
                            (root / "first").string() + R"(","","/nonexistent"]})";
  auto messages = Run(1602, DeviceJson(), Compressed(paths));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1);
  std::vector<std::string> stage0;
  std::map<std::string, int64_t> sizes;
  for (const auto& message : messages) {
    if (message.status != 2) continue;
    rapidjson::Document info = InfoOf(message);
    ASSERT_TRUE(info.IsObject());
    if (message.stage == 0) {
      stage0.emplace_back(info["Device Name"].GetString());
      EXPECT_STREQ(info["Unique Identifier"].GetString(), "abc");
      EXPECT_EQ(info["IsEncrypted"].GetInt(), 0);
      EXPECT_FALSE(info.HasMember("Size"));
    } else {
      EXPECT_EQ(message.stage, 1);
      sizes[info["Device Name"].GetString()] = info["Size"].GetInt64();
    }
  }
  EXPECT_EQ(stage0, (std::vector<std::string>{"Phone", "Pad", "Default"}));
  ASSERT_EQ(sizes.size(), 3u);
  EXPECT_GT(sizes["Pad"], sizes["Phone"]);
  EXPECT_GE(sizes["Phone"], 1000);

  EXPECT_EQ(Run(1602, DeviceJson(), Compressed(R"({"roots":[]})")).back().code, 21);
  EXPECT_EQ(Run(1602, DeviceJson()).back().code, 8);
  EXPECT_EQ(Run(1602, R"({"uuid":"not-attached"})", Compressed(paths)).back().code, 7);
}

TEST_F(BackupCommandsTest, DeviceStatesAndTheDesktopMediaApplication) {
  EXPECT_EQ(Run(1603, DeviceJson()).back().code, 1);
  EXPECT_EQ(Run(1604, DeviceJson()).back().code, 1);
  EXPECT_EQ(Run(1606, DeviceJson()).back().code, 1);

  // A stand-in process named exactly like the media application.
  const fs::path program = scratch_ / "iTunes.exe";
  fs::copy_file("/bin/sleep", program);
  int error = 0;
  kst::SpawnOptions options;
  options.arguments = {"600"};
  const int64_t pid = kst::SpawnProcess(program.string(), options, &error);
  ASSERT_GT(pid, 0) << error;
  for (int i = 0; i < 200 && !kst::AnyProcessMatches("iTunes.exe"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Run(1606, DeviceJson()).back().code, 0);
  EXPECT_EQ(Run(1607, DeviceJson()).back().code, 0);
  EXPECT_EQ(kst::WaitProcess(pid, 10000), 128 + 9);
  EXPECT_EQ(Run(1607, DeviceJson()).back().code, 1);  // nothing left to end
}

TEST_F(BackupCommandsTest, RestoresRefusedBeforeTheyStart) {
  auto missing = Run(1601, DeviceJson(), Compressed(R"({"path":"/x","sourceDeviceId":"S"})"));
  EXPECT_EQ(missing.back().code, 21);
  EXPECT_EQ(missing.back().info.value_or(""), R"({"error":"ParameterError"})");
  fs::create_directories(scratch_ / "empty");
  auto unreadable = Run(1601, DeviceJson(),
                        Compressed(R"({"path":")" + (scratch_ / "empty").string() +
                                   R"(","sourceDeviceId":"S","password":""})"));
  EXPECT_EQ(unreadable.back().code, 47);
  EXPECT_EQ(unreadable.back().info.value_or(""), R"({"error":"BackupManifestPlistError"})");
}

}  // namespace
