// Backup folders on disk: which folders are backups, their summaries, sizes, and the table of
// databases an extraction waits for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "framework_environment.h"
#include "iOSAPI/kor_plist_xml.h"
#include "platform/kst_process.h"
#include "utility/module/itunes/kor_backup_plist_file.h"
#include "utility/module/itunes/kor_backup_summary.h"
#include "utility/module/itunes/kor_backup_wanted.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A backup folder; Info.plist carries the given entries.
void MakeBackup(const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& info, bool encrypted) {
  fs::create_directories(folder / "ab");
  WriteText(folder / "Info.plist", KorPlistDocument(KorPlistDict(info), KorPlistDoctype::kAppleComputer));
  WriteText(folder / "Manifest.plist",
            KorPlistDocument(KorPlistDict({{"IsEncrypted", KorPlistBool(encrypted)}}), KorPlistDoctype::kApple));
  WriteText(folder / "Status.plist", KorPlistDocument("<dict/>", KorPlistDoctype::kApple));
  WriteText(folder / "ab" / "abcdef", std::string(1000, 'x'));
}

class BackupSummaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadBuiltFramework());
    root_ = fs::temp_directory_path() / "backup_summary_test";
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(BackupSummaryTest, TwoBackupsAndAnUnrelatedFolderGiveTwoSummariesOnce) {
  MakeBackup(root_ / "AAA-20260101000000",
             {{"Product Version", KorPlistString("17.5")},
              {"Build Version", KorPlistString("21F79")},
              {"Serial Number", KorPlistString("F2LX")},
              {"Device Name", KorPlistString("Phone <1>")},
              {"Target Identifier", KorPlistString("ABCDEF")},
              {"Last Backup Date", "<date>2026-03-09T14:05:07Z</date>"},
              {"Product Type", KorPlistString("iPhone15,2")}},
             true);
  MakeBackup(root_ / "BBB-20260101000000",
             {{"Display Name", KorPlistString("Pad")}, {"Unique Identifier", KorPlistString("UPPER")}}, false);
  fs::create_directories(root_ / "unrelated");
  WriteText(root_ / "unrelated" / "Info.plist", "x");
  WriteText(root_ / "unrelated" / "Manifest.plist", "x");  // no Status.plist: not a backup

  std::vector<std::string> found = KorFindBackupFolders(
      {root_.string(), root_.string() + "/", (root_ / "AAA-20260101000000").string(), "/nonexistent"}, "");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], (root_ / "AAA-20260101000000").string());

  rapidjson::Document first;
  ASSERT_TRUE(KorReadBackupSummary(found[0], &first));
  EXPECT_STREQ(first["Product Version"].GetString(), "17.5");
  EXPECT_STREQ(first["Device Name"].GetString(), "Phone <1>");
  EXPECT_STREQ(first["Unique Identifier"].GetString(), "abcdef");
  EXPECT_STREQ(first["Last Backup Date"].GetString(), KorLocalTimeText(1773065107).c_str());
  EXPECT_STREQ(first["Path"].GetString(), found[0].c_str());
  EXPECT_EQ(first["IsEncrypted"].GetInt(), 1);
  rapidjson::Document second;
  ASSERT_TRUE(KorReadBackupSummary(found[1], &second));
  EXPECT_STREQ(second["Device Name"].GetString(), "Pad");
  EXPECT_STREQ(second["Unique Identifier"].GetString(), "upper");
  EXPECT_EQ(second["IsEncrypted"].GetInt(), 0);
  EXPECT_GE(KorFolderSize(found[0]), 1000);

  rapidjson::Document none;
  EXPECT_FALSE(KorReadBackupSummary((root_ / "unrelated").string(), &none));
}

TEST_F(BackupSummaryTest, ABrokenInfoPlistIsNotReported) {
  MakeBackup(root_ / "broken", {}, false);
  WriteText(root_ / "broken" / "Info.plist", "<plist><dict><key>unterminated");
  rapidjson::Document summary;
  EXPECT_FALSE(KorReadBackupSummary((root_ / "broken").string(), &summary));
}

TEST(BackupRootTest, TheDefaultRootIsBelowTheUsersDataFolder) {
  const std::string saved_data = kst::GetEnv("XDG_DATA_HOME");
  kst::SetEnv("XDG_DATA_HOME", "/data/home");
  EXPECT_EQ(KorDefaultBackupRoot(), "/data/home/Apple Computer/MobileSync/Backup/");
  kst::SetEnv("XDG_DATA_HOME", "");
  EXPECT_EQ(KorDefaultBackupRoot(), kst::GetEnv("HOME") + "/.local/share/Apple Computer/MobileSync/Backup/");
  kst::SetEnv("XDG_DATA_HOME", saved_data);
}

TEST(WantedTableTest, EntriesArriveWithTheirCompanionsAndAreNotifiedOnce) {
  KorWantedTable wanted({2, 0, 2, 7});
  EXPECT_EQ(wanted.Size(), 3u);
  wanted.NoteFile(std::string("/b/x/3d/") + kKorMessagesDbName + "-wal");
  EXPECT_TRUE(wanted.TakeArrived().empty());  // a companion alone is not the database
  wanted.NoteFile(std::string("/b/x/3d/") + kKorMessagesDbName);
  wanted.NoteFile("/b/x/ca/unrelated-file");
  std::vector<KorWantedEntry> arrived = wanted.TakeArrived();
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(arrived[0].name, kKorMessagesDbName);
  EXPECT_TRUE(arrived[0].wal.arrived);
  EXPECT_FALSE(wanted.AllNotified());
  wanted.NoteFile(std::string("/b/x/4f/") + kKorNoteStoreDbName);
  wanted.NoteFile(std::string("/b/x/ca/") + kKorNotesDbName);
  arrived = wanted.TakeArrived();
  ASSERT_EQ(arrived.size(), 2u);
  EXPECT_EQ(arrived[0].name, kKorNoteStoreDbName);  // name order when several arrived together
  EXPECT_TRUE(wanted.AllNotified());
  EXPECT_TRUE(wanted.TakeArrived().empty());
}

}  // namespace
