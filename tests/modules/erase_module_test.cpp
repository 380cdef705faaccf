// Erasing through Tandrel against the simulated iPhone: media folders emptied and applications
// uninstalled with their progress, and the free-space fill with its passes, result codes, stop
// and clean-up. The profile reports a small free size so that whole fills run here (the device
// stores the zeros sparse).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"
#include "sample_apps.h"

namespace {

using namespace std::chrono_literals;

constexpr int64_t kSmallFreeBytes = 600ll << 20;

void SetFreeBytes(const std::string& profile, int64_t free_bytes) {
  ASSERT_TRUE(vdevice_test::VdeviceFixture::EditDeviceJson(profile, [free_bytes](rapidjson::Document& json) {
    json["lockdown"]["com.apple.disk_usage"]["TotalDataAvailable"].SetInt64(free_bytes);
  }));
}

void RemoveUserApps(const std::string& profile) {
  std::string error;
  ASSERT_TRUE(vdevice_fixtures::WriteAppCatalog(profile, 0, &error)) << error;
}

struct Progress {
  int64_t stage;
  int64_t value;
};

std::vector<Progress> ProgressOf(const std::vector<frontend::Message>& messages) {
  std::vector<Progress> progress;
  for (const auto& message : messages) {
    rapidjson::Document info;
    int64_t value = 0;
    if (message.status == 2 && VelJsonUtil::Parse(message.info.value_or(""), &info) &&
        VelJsonUtil::GetInt64(info, "progress", &value)) {
      progress.push_back({message.stage, value});
    }
  }
  return progress;
}

std::string ErrorText(const frontend::Message& reply) {
  rapidjson::Document info;
  std::string error = "<none>";
  VelJsonUtil::Parse(reply.info.value_or(""), &info);
  VelJsonUtil::GetString(info, "error", &error);
  return error;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class EraseModuleTest : public ModuleTest {
 protected:
  std::vector<frontend::Message> Fill(const std::string& parameters) {
    return Run(1701, DeviceJson(), Compressed(parameters));
  }
  // Erase content naming a folder that looks like a backup (its restore then fails on the device).
  std::vector<frontend::Message> EraseContent() {
    std::string folder = vd.folder() + "/looks-like-a-backup";
    EXPECT_TRUE(kst::CreateDirectories(folder) && kst::WriteWholeFile(folder + "/Manifest.plist", "<plist/>"));
    return Run(1700, DeviceJson(), Compressed(R"({"path":")" + folder + R"(","sourceDeviceId":"X","password":""})"));
  }
  bool FillFolderExists() const { return kst::PathExists(DeviceFile("/iostemp")); }
};

TEST_F(EraseModuleTest, LevelZeroMakesAndRemovesTheFillFolderAndEndsShort) {
  StartWith("demo", [](const std::string& profile) { SetFreeBytes(profile, kSmallFreeBytes); });
  for (const char* parameters : {R"({"level":0})", "{}"}) {
    auto messages = Fill(parameters);
    ASSERT_EQ(messages.size(), 1u) << parameters;
    EXPECT_EQ(messages.back().code, 2);
    EXPECT_FALSE(FillFolderExists());
  }
}

TEST_F(EraseModuleTest, AFillFolderThatCannotBeMadeEndsWithItsCode) {
  StartWith("demo", [](const std::string& profile) {
    SetFreeBytes(profile, kSmallFreeBytes);
    ASSERT_TRUE(kst::WriteWholeFile(profile + "/afc/iostemp", "a file in the way"));
  });
  auto messages = Fill(R"({"level":1})");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.back().code, 47);
  EXPECT_EQ(ErrorText(messages.back()), "mkdir /iostemp fail.");
}

TEST_F(EraseModuleTest, LevelOneFillsTheFreeSizeInHalfGigabyteFilesAndCleansUp) {
  StartWith("demo", [](const std::string& profile) { SetFreeBytes(profile, kSmallFreeBytes); });
  auto messages = Fill(R"({"level":1})");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, 0) << ErrorText(messages.back());
  std::vector<Progress> progress = ProgressOf(messages);
  ASSERT_EQ(progress.size(), 2u);  // two files of 512 MiB cover 600 MiB
  EXPECT_EQ(progress[0].value, 85);
  EXPECT_EQ(progress[1].value, 100);
  EXPECT_FALSE(FillFolderExists());
}

TEST_F(EraseModuleTest, LevelFiveRunsTwoPassesAndStaysBelowHundred) {
  StartWith("demo", [](const std::string& profile) { SetFreeBytes(profile, kSmallFreeBytes); });
  auto messages = Fill(R"({"level":5})");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, 0) << ErrorText(messages.back());
  std::vector<int64_t> values;
  for (const Progress& progress : ProgressOf(messages)) values.push_back(progress.value);
  // Pass 1: 512 MiB files (85 %, 100 %) / 5; pass 2: one 1 GiB file, 50 + 100 / 5.
  EXPECT_EQ(values, (std::vector<int64_t>{17, 20, 70}));
  EXPECT_FALSE(FillFolderExists());
}

TEST_F(EraseModuleTest, StopDuringTheFillLeavesNothingBehind) {
  StartWith("demo", [](const std::string& profile) { SetFreeBytes(profile, 64ll << 30); });
  uint64_t task = NextTask();
  ASSERT_TRUE(tandrel->Link().Send(1701, task, DeviceJson(), Compressed(R"({"level":2})")));
  auto first = tandrel->Link().NextFor(task, 30s);  // the first file is written
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 2);
  auto stop = Run(600, R"({"info":{"task_id":")" + std::to_string(task) + "\"}}");
  ASSERT_EQ(stop.size(), 1u);
  auto rest = tandrel->Link().CollectUntilFinal(task, 60s);
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest.back().status, 5);
  EXPECT_EQ(rest.back().code, 6);
  EXPECT_EQ(ErrorText(rest.back()), "Task cancelled.");
  EXPECT_FALSE(FillFolderExists());
}

TEST_F(EraseModuleTest, EraseContentEmptiesTheMediaFoldersAndUninstallsEveryUserApplication) {
  StartWith("demo");
  ASSERT_TRUE(kst::PathExists(DeviceFile("/DCIM/100APPLE")));
  auto messages = EraseContent();
  ASSERT_FALSE(messages.empty());
  std::vector<Progress> progress = ProgressOf(messages);
  ASSERT_EQ(progress.size(), 23u + 25u);
  EXPECT_EQ(progress[0].value, 4);
  EXPECT_EQ(progress[22].value, 100);
  EXPECT_EQ(progress[22].stage, 0);
  EXPECT_EQ(progress[23].stage, 2);
  EXPECT_EQ(progress[23].value, 4);  // 1 × 100 / 25
  EXPECT_EQ(progress.back().value, 100);
  for (const char* folder : {"/DCIM", "/Books", "/Downloads", "/iTunes_Control"}) {
    EXPECT_TRUE(std::filesystem::is_directory(DeviceFile(folder))) << folder;
    EXPECT_TRUE(std::filesystem::is_empty(DeviceFile(folder))) << folder;
  }
  // The device goes on uninstalling after the answers Tandrel read.
  for (int i = 0; i < 200 && CountOf(vd.ServerLog(), "installation_proxy: uninstalled") < 25; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  auto listed = Run(501, DeviceJson());
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(listed.front().info.value_or(""), R"({"Count":0})");
}

TEST_F(EraseModuleTest, EraseContentEndsWithTheNamedBackupRestoredOntoTheDevice) {
  StartWith("demo");
  auto backup = Run(1600, DeviceJson(), Compressed(R"({"path":")" + vd.folder() + R"(/backups"})"));
  ASSERT_FALSE(backup.empty());
  ASSERT_EQ(backup.back().code, 0) << vd.ServerLog();
  rapidjson::Document where;
  std::string folder;
  ASSERT_TRUE(VelJsonUtil::Parse(backup.front().info.value_or(""), &where));
  ASSERT_TRUE(VelJsonUtil::GetString(where, "BackupDir", &folder));
  auto messages = Run(1700, DeviceJson(),
                      Compressed(R"({"path":")" + folder + R"(","sourceDeviceId":")" + udid + R"(","password":""})"));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1) << ErrorText(messages.back()) << vd.ServerLog();
  EXPECT_TRUE(std::filesystem::is_empty(DeviceFile("/DCIM")));
  std::string restored_manifest, backed_up_manifest;
  ASSERT_TRUE(kst::ReadWholeFile(profile + "/mobilebackup2/restored/Manifest.db", &restored_manifest));
  ASSERT_TRUE(kst::ReadWholeFile(folder + "/Manifest.db", &backed_up_manifest));
  EXPECT_EQ(restored_manifest, backed_up_manifest);
  size_t restored_files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(profile + "/mobilebackup2/restored")) {
    restored_files += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_GT(restored_files, 3u);
}

TEST_F(EraseModuleTest, EraseContentWithoutUserApplicationsEndsTheFolderStageAtHundred) {
  StartWith("demo", RemoveUserApps);
  auto messages = EraseContent();
  std::vector<Progress> progress = ProgressOf(messages);
  ASSERT_EQ(progress.size(), 23u);
  EXPECT_EQ(progress.back().value, 100);
}

TEST_F(EraseModuleTest, EraseContentThatCouldNotRestoreErasesNothing) {
  StartWith("demo");
  auto messages = Run(1700, DeviceJson(), Compressed(R"({"path":"/somewhere"})"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.back().code, 21);
  EXPECT_EQ(ErrorText(messages.back()), "ParameterError");
  auto no_backup = Run(1700, DeviceJson(), Compressed(R"({"path":"/nowhere","sourceDeviceId":"X","password":""})"));
  ASSERT_EQ(no_backup.size(), 1u);
  EXPECT_EQ(no_backup.back().code, 47);
  EXPECT_EQ(ErrorText(no_backup.back()), "BackupManifestPlistError");
  EXPECT_FALSE(std::filesystem::is_empty(DeviceFile("/DCIM")));
}

}  // namespace
