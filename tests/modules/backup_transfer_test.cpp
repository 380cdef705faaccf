// Backups and restores through Tandrel against the simulated iPhone's backup service, checked
// against libimobiledevice's own idevicebackup2 and against the file system around the folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "module_fixture.h"
#include "platform/kst_process.h"
#include "platform/vel_json_util.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kBackupService = "com.apple.mobilebackup2";

std::string ReadFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every file under a folder by its relative path, with its bytes.
std::map<std::string, std::string> FilesUnder(const fs::path& folder) {
  std::map<std::string, std::string> files;
  if (!fs::is_directory(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadFileText(entry.path());
  }
  return files;
}

std::set<std::string> EntriesUnder(const fs::path& folder) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    entries.insert(fs::relative(entry.path(), folder).string());
  }
  return entries;
}

class BackupTransferTest : public ModuleTest {
 protected:
  void SetUp() override {
    // The Tandrel started below takes its default backup root from here.
    data_home_ = fs::temp_directory_path() / ("backup_transfer_data_" + std::to_string(kst::CurrentProcessId()));
    fs::remove_all(data_home_);
    kst::SetEnv("XDG_DATA_HOME", data_home_.string());
    StartWith("demo");
    scratch_ = fs::path(vd.folder()) / "backup_scratch";
    fs::create_directories(scratch_);
  }
  void TearDown() override { fs::remove_all(data_home_); }

  std::vector<frontend::Message> Backup(const fs::path& root) {
    return Run(1600, DeviceJson(), Compressed(R"({"path":")" + root.string() + R"("})"));
  }

  bool Fault(const std::vector<std::string>& kind_and_args) { return vd.Fault(udid, kBackupService, kind_and_args); }

  // The one backup folder under a root.
  static fs::path OnlyBackupIn(const fs::path& root) {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(root)) folders.push_back(entry.path());
    return folders.size() == 1 ? folders[0] : fs::path();
  }

  fs::path scratch_;
  fs::path data_home_;
};

TEST_F(BackupTransferTest, ABackupHoldsTheFilesIdevicebackup2Receives) {
  const fs::path root = scratch_ / "tandrel";
  std::vector<frontend::Message> messages = Backup(root);
  ASSERT_FALSE(messages.empty());
  ASSERT_EQ(messages.back().status, 1) << vd.ServerLog();
  // "BackupDir" first, then progress that only grows up to 10000.
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[0].stage, 0);
  rapidjson::Document dir;
  ASSERT_TRUE(VelJsonUtil::Parse(messages[0].info.value_or(""), &dir));
  const fs::path folder = OnlyBackupIn(root);
  EXPECT_EQ(std::string(dir["BackupDir"].GetString()), folder.string() + "/");
  int64_t last = -1;
  for (size_t i = 1; i + 1 < messages.size(); ++i) {
    EXPECT_EQ(messages[i].stage, 1);
    EXPECT_GT(messages[i].code, last);
    last = messages[i].code;
  }
  EXPECT_EQ(last, 10000);
  EXPECT_EQ(folder.filename().string().substr(0, udid.size() + 1), udid + "-");

  vd.ExportSocketAddress();
  const fs::path reference_root = scratch_ / "reference";
  fs::create_directories(reference_root);
  auto reference = vd.RunTool("idevicebackup2", {"-u", udid, "backup", "--full", reference_root.string()}, 60000);
  ASSERT_EQ(reference.exit_code, 0) << reference.out << reference.err;
  std::map<std::string, std::string> ours = FilesUnder(folder);
  std::map<std::string, std::string> theirs = FilesUnder(reference_root / udid);
  ASSERT_FALSE(theirs.empty());
  std::set<std::string> our_names;
  std::set<std::string> their_names;
  for (const auto& [name, bytes] : ours) our_names.insert(name);
  for (const auto& [name, bytes] : theirs) their_names.insert(name);
  EXPECT_EQ(our_names, their_names);
  for (const auto& [name, bytes] : theirs) {
    // The property lists carry the time of their backup.
    if (name == "Info.plist" || name == "Manifest.plist" || name == "Status.plist") continue;
    EXPECT_TRUE(ours[name] == bytes) << name;
  }
  const std::string info = ours["Info.plist"];
  EXPECT_NE(info.find("<key>Target Identifier</key><string>" + udid + "</string>"), std::string::npos);
  EXPECT_NE(info.find("<key>Last Backup Date</key><date>"), std::string::npos);
  EXPECT_NE(info.find("<key>Installed Applications</key><array><string>"), std::string::npos);
  EXPECT_NE(info.find("<key>PlaceholderIcon</key><data>"), std::string::npos);
}

TEST_F(BackupTransferTest, BackupsWithoutARootGoUnderTheDefaultRootEachInItsOwnFolder) {
  EXPECT_EQ(Run(1600, DeviceJson(), Compressed(R"({"path":""})")).back().code, 0) << vd.ServerLog();
  EXPECT_EQ(Run(1600, DeviceJson(), Compressed(R"({"path":""})")).back().code, 0);
  const fs::path root = data_home_ / "Apple Computer" / "MobileSync" / "Backup";
  std::set<std::string> folders;
  for (const auto& entry : fs::directory_iterator(root)) {
    EXPECT_TRUE(fs::exists(entry.path() / "Manifest.db")) << entry.path();
    folders.insert(entry.path().filename().string());
  }
  EXPECT_EQ(folders.size(), 2u);
}

TEST_F(BackupTransferTest, ABackupRestoresOntoASecondDevice) {
  const fs::path root = scratch_ / "tandrel";
  ASSERT_EQ(Backup(root).back().code, 0) << vd.ServerLog();
  const fs::path folder = OnlyBackupIn(root);

  const std::string second_udid = "00008110-00AA11BB22CC33DD";
  const std::string second = vd.MakeProfile("demo", "Second", second_udid);
  ASSERT_TRUE(vd.Attach(second));
  std::optional<frontend::Message> ready;
  do {
    ready = tandrel->Link().WaitFor(1, 30s);
  } while (ready && ready->uuid != second_udid);
  ASSERT_TRUE(ready);
  const std::string json = R"({"uuid":")" + second_udid + R"(","code":)" + std::to_string(ready->code) + "}";
  auto restored = Run(1601, json,
                      Compressed(R"({"path":")" + folder.string() + R"(","sourceDeviceId":")" + udid +
                                 R"(","password":""})"));
  ASSERT_EQ(restored.back().code, 0) << vd.ServerLog();
  std::map<std::string, std::string> received = FilesUnder(fs::path(second) / "mobilebackup2" / "restored");
  ASSERT_FALSE(received.empty()) << vd.ServerLog();
  std::map<std::string, std::string> backed_up = FilesUnder(folder);
  for (const auto& [name, bytes] : received) EXPECT_TRUE(backed_up[name] == bytes) << name;
  EXPECT_TRUE(received.count("Manifest.db"));
}

TEST_F(BackupTransferTest, IncompleteBackupsLeaveNoFolderAndSayWhy) {
  ASSERT_TRUE(Fault({"disconnect", "99.5"}));
  EXPECT_EQ(Backup(scratch_ / "disconnect").back().code, 45);
  EXPECT_TRUE(fs::is_empty(scratch_ / "disconnect"));

  ASSERT_TRUE(Fault({"passcode", "200"}));
  auto locked = Backup(scratch_ / "locked");
  EXPECT_EQ(locked.back().code, 208);
  EXPECT_EQ(locked.back().info.value_or(""), R"({"error":"Device locked"})");
  EXPECT_TRUE(fs::is_empty(scratch_ / "locked"));

  ASSERT_TRUE(Fault({"unplug", "40"}));
  EXPECT_EQ(Backup(scratch_ / "unplugged").back().code, 45);
  EXPECT_TRUE(fs::is_empty(scratch_ / "unplugged"));
}

TEST_F(BackupTransferTest, MessagesThatOnlyLookFinalAreTakenAsTheyAre) {
  // A name that differs from DLMessageDisconnect only in case is skipped; the backup completes.
  ASSERT_TRUE(Fault({"stray"}));
  EXPECT_EQ(Backup(scratch_ / "stray").back().code, 0) << vd.ServerLog();
  EXPECT_TRUE(fs::exists(OnlyBackupIn(scratch_ / "stray") / "Status.plist"));
  // ErrorCode 0 below 100 % ends the backup at once with code 0; the incomplete folder goes.
  ASSERT_TRUE(Fault({"finish", "30"}));
  EXPECT_EQ(Backup(scratch_ / "early").back().code, 0);
  EXPECT_TRUE(fs::is_empty(scratch_ / "early"));
}

TEST_F(BackupTransferTest, AStopEndsABackupWhileTheDeviceIsSilent) {
  ASSERT_TRUE(Fault({"silence", "600000"}));
  const fs::path root = scratch_ / "stopped";
  const uint64_t task = NextTask();
  ASSERT_TRUE(tandrel->Link().Send(1600, task, DeviceJson(), Compressed(R"({"path":")" + root.string() + R"("})")));
  auto first = tandrel->Link().NextFor(task, 30s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->stage, 0);  // the folder is announced; the device says nothing
  auto stop = Run(600, R"({"info":{"task_id":")" + std::to_string(task) + R"("}})");
  EXPECT_EQ(stop.back().code, 0);
  auto last = tandrel->Link().CollectUntilFinal(task, 30s);
  ASSERT_FALSE(last.empty());
  EXPECT_EQ(last.back().code, 6);
  EXPECT_EQ(last.back().status, 5);
  EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(BackupTransferTest, HostilePathsNeverLeaveTheBackupFolder) {
  const fs::path root = scratch_ / "deep" / "root";
  fs::create_directories(root);
  std::ofstream(scratch_ / "deep" / "victim") << "keep";
  ASSERT_TRUE(Fault({"hostile", "upload", udid + "/../../escape-upload"}));
  ASSERT_TRUE(Fault({"hostile", "upload", "/tmp/tandrel-absolute-escape"}));
  ASSERT_TRUE(Fault({"hostile", "mkdir", "../escape-dir"}));
  ASSERT_TRUE(Fault({"hostile", "move", udid + "/Manifest.plist", "../escape-moved"}));
  ASSERT_TRUE(Fault({"hostile", "remove", "../victim"}));
  ASSERT_TRUE(Fault({"hostile", "remove", udid + "/../../victim"}));
  const std::set<std::string> before = EntriesUnder(scratch_);
  EXPECT_EQ(Backup(root).back().code, 0) << vd.ServerLog();
  std::set<std::string> added;
  for (const std::string& entry : EntriesUnder(scratch_)) {
    if (!before.count(entry) && entry.rfind("deep/root/" + udid + "-", 0) != 0) added.insert(entry);
  }
  EXPECT_TRUE(added.empty()) << *added.begin();
  EXPECT_EQ(ReadFileText(scratch_ / "deep" / "victim"), "keep");
  EXPECT_FALSE(fs::exists("/tmp/tandrel-absolute-escape"));
  EXPECT_TRUE(fs::exists(OnlyBackupIn(root) / "Manifest.plist"));
}

}  // namespace
