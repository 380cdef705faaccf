// Local names of exported items.
#include <gtest/gtest.h>

#include "platform/kst_fs.h"
#include "tandrel_harness.h"
#include "utility/module/file/kor_file_export.h"

namespace {

TEST(ExportNamingTest, ForbiddenCharactersBecomeUnderscores) {
  EXPECT_EQ(KorCleanExportName("a:b?.txt"), "a_b_.txt");
  EXPECT_EQ(KorCleanExportName(std::string("x\x01y\x7fz\\/*\"<|", 11)), "x_y_z______");
  EXPECT_EQ(KorCleanExportName("caf\xC3\xA9 > ok"), "caf\xC3\xA9 > ok");  // ">" and UTF-8 stay
}

TEST(ExportNamingTest, TakenNamesGetANumberBeforeTheExtension) {
  harness::TempFolder folder;
  std::string base = folder.Path() + "/a_b_.txt";
  EXPECT_EQ(KorFreeLocalPath(base), base);
  ASSERT_TRUE(kst::WriteWholeFile(base, "x"));
  EXPECT_EQ(KorFreeLocalPath(base), folder.Path() + "/a_b_(1).txt");
  ASSERT_TRUE(kst::WriteWholeFile(folder.Path() + "/a_b_(1).txt", "x"));
  EXPECT_EQ(KorFreeLocalPath(base), folder.Path() + "/a_b_(2).txt");
  ASSERT_TRUE(kst::CreateDirectories(folder.Path() + "/Notes"));
  EXPECT_EQ(KorFreeLocalPath(folder.Path() + "/Notes"), folder.Path() + "/Notes(1)");
  ASSERT_TRUE(kst::CreateDirectories(folder.Path() + "/.hidden"));
  EXPECT_EQ(KorFreeLocalPath(folder.Path() + "/.hidden"), folder.Path() + "/.hidden(1)");
}

TEST(ExportNamingTest, TargetJoinsFolderAndNameOnce) {
  EXPECT_EQ(KorExportTarget("/tmp/out", "a"), "/tmp/out/a");
  EXPECT_EQ(KorExportTarget("/tmp/out/", "a"), "/tmp/out/a");
  EXPECT_EQ(KorExportTarget("C:\\out\\", "a"), "C:\\out\\a");
}

}  // namespace
