// The backup service checked with the stock client: `idevicebackup2` makes full backups of the
// simulated iPhone (hashed file names, Manifest.db, Manifest.plist, Status.plist, the messages
// database with its write-ahead log), restores them onto a second device, turns encryption on
// and off, changes the password and reads the backup's info; and the backup faults as that
// client sees them.
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/kst_fs.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

namespace fs = std::filesystem;

constexpr int kToolTimeoutMs = 30000;
constexpr const char* kService = "com.apple.mobilebackup2";
constexpr const char* kSmsId = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr const char* kAddressBookId = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
constexpr const char* kNotesId = "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c";
constexpr const char* kNoteStoreId = "4f98687d8ab0d6d1a371110e6b7300f6e465bef2";

std::string ReadFile(const std::string& path) {
  std::string content;
  kst::ReadWholeFile(path, &content);
  return content;
}

// A value of a property-list file, as text ("true"/"false" for booleans), or "" when missing.
std::string PlistValue(const std::string& path, const char* key) {
  std::string content = ReadFile(path);
  plist_t root = nullptr;
  plist_from_memory(content.data(), static_cast<uint32_t>(content.size()), &root);
  plist_t node = root ? plist_dict_get_item(root, key) : nullptr;
  std::string text;
  if (node && plist_get_node_type(node) == PLIST_STRING) {
    char* value = nullptr;
    plist_get_string_val(node, &value);
    text = value;
    free(value);
  } else if (node && plist_get_node_type(node) == PLIST_BOOLEAN) {
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    text = value ? "true" : "false";
  }
  plist_free(root);
  return text;
}

// fileID -> "domain|relativePath|flags" of a Manifest.db.
std::map<std::string, std::string> ManifestRows(const std::string& path) {
  std::map<std::string, std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, "SELECT fileID, domain, relativePath, flags FROM Files",
        [](void* out, int, char** values, char**) {
          (*static_cast<std::map<std::string, std::string>*>(out))[values[0]] =
              std::string(values[1]) + "|" + values[2] + "|" + values[3];
          return 0;
        },
        &rows, nullptr);
  }
  sqlite3_close(db);
  return rows;
}

// Relative path -> content of every regular file under `folder`.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (it->is_regular_file()) files[fs::relative(it->path(), folder).string()] = ReadFile(it->path().string());
  }
  return files;
}

class BackupServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = vd_.MakeProfile("demo");
    udid_ = VdeviceFixture::ProfileUdid(profile_);
  }

  void Serve(const std::vector<std::string>& profiles) {
    ASSERT_TRUE(vd_.Start(profiles)) << vd_.ServerLog();
  }

  ToolResult Backup(const std::vector<std::string>& extra = {}) {
    std::string root = NewRoot();
    std::vector<std::string> args = {"-u", udid_};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("backup");
    args.push_back("--full");
    args.push_back(root);
    ToolResult result = vd_.RunTool("idevicebackup2", args, kToolTimeoutMs);
    EXPECT_FALSE(result.timed_out) << vd_.ServerLog();
    last_backup_ = root + "/" + udid_;
    return result;
  }

  std::string NewRoot() {
    std::string root = vd_.folder() + "/backups-" + std::to_string(++roots_);
    kst::CreateDirectories(root);
    return root;
  }

  ToolResult Tool(const std::vector<std::string>& args) {
    ToolResult result = vd_.RunTool("idevicebackup2", args, kToolTimeoutMs);
    EXPECT_FALSE(result.timed_out) << vd_.ServerLog();
    return result;
  }

  std::string WillEncrypt() {
    return vd_.RunTool("ideviceinfo", {"-u", udid_, "-q", "com.apple.mobile.backup", "-k", "WillEncrypt"}).out;
  }

  std::string HashedFile(const std::string& id) const { return last_backup_ + "/" + id.substr(0, 2) + "/" + id; }
  std::string DomainFile(const std::string& relative) const {
    return profile_ + "/mobilebackup2/domains/" + relative;
  }

  VdeviceFixture vd_;
  std::string profile_, udid_, last_backup_;
  int roots_ = 0;
};

TEST_F(BackupServiceTest, FullBackupHoldsTheDomainFilesUnderHashedNamesWithManifestAndStatus) {
  Serve({profile_});
  ToolResult backup = Backup();
  ASSERT_EQ(backup.exit_code, 0) << backup.out << backup.err << vd_.ServerLog();
  EXPECT_NE(backup.out.find("Backup Successful."), std::string::npos) << backup.out;

  EXPECT_EQ(ReadFile(HashedFile(kSmsId)), ReadFile(DomainFile("HomeDomain/Library/SMS/sms.db")));
  EXPECT_EQ(ReadFile(HashedFile(kSmsId) + "-wal"), ReadFile(DomainFile("HomeDomain/Library/SMS/sms.db-wal")));
  EXPECT_FALSE(ReadFile(HashedFile(kSmsId) + "-wal").empty());
  EXPECT_EQ(ReadFile(HashedFile(kAddressBookId)),
            ReadFile(DomainFile("HomeDomain/Library/AddressBook/AddressBook.sqlitedb")));
  EXPECT_EQ(ReadFile(HashedFile(kNotesId)), ReadFile(DomainFile("HomeDomain/Library/Notes/notes.sqlite")));
  EXPECT_EQ(ReadFile(HashedFile(kNoteStoreId)),
            ReadFile(DomainFile("AppDomainGroup-group.com.apple.notes/NoteStore.sqlite")));

  std::map<std::string, std::string> rows = ManifestRows(last_backup_ + "/Manifest.db");
  EXPECT_EQ(rows[kSmsId], "HomeDomain|Library/SMS/sms.db|1");
  EXPECT_EQ(rows[std::string(kSmsId) + "-wal"], "HomeDomain|Library/SMS/sms.db-wal|1");
  EXPECT_EQ(rows[kAddressBookId], "HomeDomain|Library/AddressBook/AddressBook.sqlitedb|1");
  EXPECT_EQ(rows["216b7d745005532012e7e1c9957c7688692fd939"], "HomeDomain|Library/SMS|2");
  EXPECT_FALSE(kst::PathExists(last_backup_ + "/Manifest.db.new"));

  EXPECT_EQ(PlistValue(last_backup_ + "/Status.plist", "SnapshotState"), "finished");
  EXPECT_EQ(PlistValue(last_backup_ + "/Manifest.plist", "IsEncrypted"), "false");
  EXPECT_EQ(PlistValue(last_backup_ + "/Info.plist", "Product Version"), "16.6");
}

TEST_F(BackupServiceTest, GeneratedFilesMakeTheBackupAsLargeAsAskedAndAreTheSameEachTime) {
  ASSERT_TRUE(VdeviceFixture::EditJson(profile_ + "/mobilebackup2/backup.json", [](rapidjson::Document& json) {
    json["generated_files"].SetUint64(40);
    json["generated_bytes"].SetUint64(3000000);
    json["batch_files"].SetUint64(7);
  }));
  Serve({profile_});
  ASSERT_EQ(Backup().exit_code, 0) << vd_.ServerLog();
  std::map<std::string, std::string> first = FilesUnder(last_backup_);
  ASSERT_EQ(Backup().exit_code, 0) << vd_.ServerLog();
  std::map<std::string, std::string> second = FilesUnder(last_backup_);

  uint64_t generated_bytes = 0;
  size_t generated_files = 0;
  for (const auto& [id, row] : ManifestRows(last_backup_ + "/Manifest.db")) {
    bool generated = row.find(".HEIC|") != std::string::npos || row.find(".bin|") != std::string::npos ||
                     row.find(".m4a|") != std::string::npos;
    if (!generated || row.back() != '1') continue;
    ++generated_files;
    std::string path = id.substr(0, 2) + "/" + id;
    ASSERT_TRUE(first.count(path)) << path;
    generated_bytes += first[path].size();
    EXPECT_EQ(first[path], second[path]) << path;
  }
  EXPECT_EQ(generated_files, 40u);
  EXPECT_EQ(generated_bytes, 3000000u);
}

TEST_F(BackupServiceTest, RestoreOntoASecondDeviceLeavesItWithTheBackupsFiles) {
  std::string second = vd_.MakeProfile("demo", "second", "00008110-0000000000000002");
  Serve({profile_, second});
  ASSERT_EQ(Backup().exit_code, 0) << vd_.ServerLog();
  std::string root = fs::path(last_backup_).parent_path().string();

  ToolResult restore = Tool({"-u", "00008110-0000000000000002", "-s", udid_, "restore", "--no-reboot", root});
  ASSERT_EQ(restore.exit_code, 0) << restore.out << vd_.ServerLog();
  EXPECT_NE(restore.out.find("Restore Successful."), std::string::npos) << restore.out;

  std::map<std::string, std::string> restored = FilesUnder(second + "/mobilebackup2/restored");
  std::map<std::string, std::string> backed_up = FilesUnder(last_backup_);
  for (const char* id : {kSmsId, kAddressBookId, kNotesId, kNoteStoreId}) {
    std::string path = std::string(id).substr(0, 2) + "/" + id;
    EXPECT_EQ(restored[path], backed_up[path]) << path;
  }
  EXPECT_EQ(restored["3d/" + std::string(kSmsId) + "-wal"], backed_up["3d/" + std::string(kSmsId) + "-wal"]);
  EXPECT_EQ(restored["Manifest.db"], backed_up["Manifest.db"]);
  EXPECT_FALSE(kst::PathExists(profile_ + "/mobilebackup2/restored/Manifest.db"));
}

TEST_F(BackupServiceTest, EncryptionOnChangeAndOffFollowThePasswordAndMarkLaterBackups) {
  Serve({profile_});
  EXPECT_EQ(WillEncrypt(), "false\n");
  ASSERT_EQ(Tool({"-u", udid_, "encryption", "on", "first"}).exit_code, 0) << vd_.ServerLog();
  EXPECT_EQ(WillEncrypt(), "true\n");

  ASSERT_EQ(Backup().exit_code, 0) << vd_.ServerLog();
  EXPECT_EQ(PlistValue(last_backup_ + "/Manifest.plist", "IsEncrypted"), "true");
  std::string root = fs::path(last_backup_).parent_path().string();
  ToolResult wrong = Tool({"-u", udid_, "restore", "--no-reboot", "--password", "nope", root});
  EXPECT_NE(wrong.out.find("ErrorCode 207: Wrong password"), std::string::npos) << wrong.out;
  ToolResult right = Tool({"-u", udid_, "restore", "--no-reboot", "--password", "first", root});
  EXPECT_NE(right.out.find("Restore Successful."), std::string::npos) << right.out << vd_.ServerLog();

  ToolResult refused = Tool({"-u", udid_, "changepw", "wrong", "second"});
  EXPECT_NE(refused.out.find("Could not change backup encryption password."), std::string::npos) << refused.out;
  ToolResult changed = Tool({"-u", udid_, "changepw", "first", "second"});
  EXPECT_NE(changed.out.find("password has been changed successfully"), std::string::npos) << changed.out;
  ToolResult off = Tool({"-u", udid_, "encryption", "off", "second"});
  EXPECT_NE(off.out.find("Backup encryption has been disabled successfully."), std::string::npos) << off.out;
  EXPECT_EQ(WillEncrypt(), "false\n");
  ASSERT_EQ(Backup().exit_code, 0);
  EXPECT_EQ(PlistValue(last_backup_ + "/Manifest.plist", "IsEncrypted"), "false");
}

TEST_F(BackupServiceTest, InfoSummarisesTheLatestBackupOfTheDevice) {
  Serve({profile_});
  ASSERT_EQ(Backup().exit_code, 0) << vd_.ServerLog();
  ToolResult info = Tool({"-u", udid_, "info", fs::path(last_backup_).parent_path().string()});
  EXPECT_EQ(info.exit_code, 0) << info.out;
  EXPECT_NE(info.out.find("Device Name: Demo iPhone\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Unique Identifier: " + udid_ + "\n"), std::string::npos) << info.out;
}

TEST_F(BackupServiceTest, DisconnectUnplugAndInjectedErrorsEndTheBackupEarly) {
  Serve({profile_});
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"disconnect", "50"}));
  ToolResult disconnected = Backup();
  EXPECT_NE(disconnected.out.find("Backup Failed"), std::string::npos) << disconnected.out;
  EXPECT_FALSE(kst::PathExists(last_backup_ + "/Status.plist"));
  EXPECT_NE(vd_.ServerLog().find("disconnects at 50.00 %"), std::string::npos);

  ASSERT_TRUE(vd_.Fault(udid_, kService, {"error", "211"}));
  ToolResult failed = Backup();
  EXPECT_NE(failed.out.find("ErrorCode 211: Injected error 211"), std::string::npos) << failed.out;

  ASSERT_TRUE(vd_.Fault(udid_, kService, {"finish", "50"}));
  ToolResult finished_early = Backup();
  EXPECT_NE(finished_early.out.find("Backup Failed (Error Code 0)"), std::string::npos) << finished_early.out;
  EXPECT_FALSE(kst::PathExists(last_backup_ + "/Status.plist"));
  EXPECT_NE(vd_.ServerLog().find("declares the backup done at 50.00 %"), std::string::npos);

  ASSERT_TRUE(vd_.Fault(udid_, kService, {"unplug", "50"}));
  ToolResult unplugged = Backup();
  EXPECT_NE(unplugged.exit_code, 0);
  EXPECT_FALSE(kst::PathExists(last_backup_ + "/Status.plist"));
  EXPECT_EQ(vd_.RunTool("idevice_id", {"-l"}).out, "");
}

TEST_F(BackupServiceTest, PasscodePromptEndsWithDeviceLockedUnlessThePasscodeIsEntered) {
  Serve({profile_});
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"passcode", "300"}));
  ToolResult locked = Backup();
  EXPECT_NE(locked.out.find("ErrorCode 208: Device locked"), std::string::npos) << locked.out;

  ASSERT_TRUE(vd_.Fault(udid_, kService, {"passcode", "20000"}));
  ToolResult answered;
  std::thread backup([&] { answered = Backup(); });
  for (int i = 0; i < 500 && vd_.ServerLog().find("asks for its passcode before the backup (20000") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(vd_.Ctl({"passcode", udid_}), 0);
  backup.join();
  EXPECT_NE(answered.out.find("Backup Successful."), std::string::npos) << answered.out << vd_.ServerLog();
}

TEST_F(BackupServiceTest, SilenceBeforeTheFirstMessageAndHostilePathsReachTheClient) {
  Serve({profile_});
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"silence", "1500"}));
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"hostile", "upload", "@UDID@/../escaped.txt"}));
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"hostile", "mkdir", "@UDID@/../escaped-folder"}));
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"stray"}));
  ToolResult backup = Backup();
  EXPECT_NE(backup.out.find("Backup Successful."), std::string::npos) << backup.out << vd_.ServerLog();
  std::string root = fs::path(last_backup_).parent_path().string();
  // The stock client does not confine paths: what the device named lands beside the backup.
  EXPECT_EQ(ReadFile(root + "/escaped.txt"), "written where the device said\n");
  EXPECT_TRUE(kst::IsDirectory(root + "/escaped-folder"));
  std::string log = vd_.ServerLog();
  EXPECT_NE(log.find("stays silent 1500 ms"), std::string::npos);
  EXPECT_NE(log.find("names the hostile path \"" + udid_ + "/../escaped.txt\" in a upload"), std::string::npos);
  EXPECT_NE(log.find("sends DLMessageDISCONNECT"), std::string::npos);

  // A restore asks through a symbolic link planted in the backup; the stock client follows it.
  kst::CreateDirectories(vd_.folder() + "/outside");
  kst::WriteWholeFile(vd_.folder() + "/outside/secret.txt", "not the backup's");
  fs::create_directory_symlink(vd_.folder() + "/outside", last_backup_ + "/link");
  ASSERT_TRUE(vd_.Fault(udid_, kService, {"hostile", "download", "@SOURCE@/link/secret.txt"}));
  ToolResult restore = Tool({"-u", udid_, "restore", "--no-reboot", root});
  EXPECT_NE(restore.out.find("Restore Successful."), std::string::npos) << restore.out << vd_.ServerLog();
  EXPECT_NE(vd_.ServerLog().find("the computer sent " + udid_ + "/link/secret.txt (16 bytes)"), std::string::npos);
}

}  // namespace
}  // namespace vdevice_test
