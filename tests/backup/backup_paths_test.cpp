// Where device paths land, and which ones are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "utility/module/itunes/kor_backup_paths.h"

namespace {

namespace fs = std::filesystem;

TEST(BackupPathsTest, TheSuffixFollowsTheFirstIdentifierAndTheRootGoesInFront) {
  KorBackupPaths paths("/b/Backups", "UDID", "-20260309140507");
  EXPECT_EQ(paths.Folder(), "/b/Backups/UDID-20260309140507/");
  EXPECT_EQ(paths.Map("UDID/Manifest.plist"), "/b/Backups/UDID-20260309140507/Manifest.plist");
  EXPECT_EQ(paths.Map("UDID/Snapshot/a/b"), "/b/Backups/UDID-20260309140507/Snapshot/a/b");
  EXPECT_EQ(paths.Map("Other/x"), "/b/Backups/Other/x");  // no identifier, no suffix
  EXPECT_EQ(paths.Map("a/UDID/UDID"), "/b/Backups/a/UDID-20260309140507/UDID");
}

TEST(BackupPathsTest, SuffixHasFourteenDigitsAndOutOfRangeClocksBecome1970) {
  EXPECT_TRUE(std::regex_match(KorBackupFolderSuffix(1773065107), std::regex("-\\d{14}")));
  EXPECT_EQ(KorBackupFolderSuffix(-5), KorBackupFolderSuffix(0));
  EXPECT_EQ(KorBackupFolderSuffix(32535194400LL), KorBackupFolderSuffix(0));
  EXPECT_NE(KorBackupFolderSuffix(1773065107), KorBackupFolderSuffix(1773065108));
}

TEST(BackupPathsTest, OnlyPathsInsideTheBackupFolderAreConfined) {
  const fs::path sandbox = fs::temp_directory_path() / "backup_paths_confine";
  fs::remove_all(sandbox);
  KorBackupPaths paths(sandbox.string(), "UDID", "-1");
  fs::create_directories(paths.Folder() + "real");
  fs::create_directories(sandbox / "outside");
  fs::create_symlink(sandbox / "outside", paths.Folder() + "link");

  std::string local;
  std::string why;
  ASSERT_TRUE(paths.Confine("UDID", &local, &why));
  EXPECT_EQ(local, sandbox.string() + "/UDID-1");
  ASSERT_TRUE(paths.Confine("UDID/real/new/file", &local, &why));
  EXPECT_EQ(local, paths.Folder() + "real/new/file");
  for (const char* hostile : {"", "../x", "UDID/../x", "UDID/a/../../x", "/etc/passwd", "Other/x", "UDIDX/y",
                              "x/UDID/y", "UDID/link", "UDID/link/evil", ".."}) {
    EXPECT_FALSE(paths.Confine(hostile, &local, &why)) << hostile;
    EXPECT_FALSE(why.empty());
  }
  EXPECT_FALSE(paths.Confine(std::string("UDID/a\0b", 8), &local, &why));
  EXPECT_TRUE(paths.Confine("UDID/a..b/..c", &local, &why));  // dots inside names are names
  fs::remove_all(sandbox);
}

TEST(BackupPathsTest, AnExistingFolderTakesTheSourceDevicePaths) {
  KorBackupPaths named = KorBackupPaths::ForFolder("/b/SRC-20260101000000/", "SRC");
  EXPECT_EQ(named.Folder(), "/b/SRC-20260101000000/");
  EXPECT_EQ(named.Map("SRC/Manifest.plist"), "/b/SRC-20260101000000/Manifest.plist");
  KorBackupPaths other = KorBackupPaths::ForFolder("/b/my copy", "SRC");
  std::string local;
  std::string why;
  ASSERT_TRUE(other.Confine("SRC/Manifest.plist", &local, &why));
  EXPECT_EQ(local, "/b/my copy/Manifest.plist");
  EXPECT_FALSE(other.Confine("OTHER/Manifest.plist", &local, &why));
}

}  // namespace
