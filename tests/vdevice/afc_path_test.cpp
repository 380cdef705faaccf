// Path confinement: AFC clients see the served folder as the whole world.
#include <gtest/gtest.h>

#include <filesystem>

#include "afc_path.h"
#include "afc_protocol.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace vdevice {
namespace {

namespace fs = std::filesystem;

class AfcPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = kst::TempFolder() + "afc-path-" + std::to_string(kst::CurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    root_ = base_ + "/root";
    kst::CreateDirectories(root_ + "/DCIM/100APPLE");
    kst::CreateDirectories(base_ + "/outside");
    kst::WriteWholeFile(base_ + "/outside/secret", "secret");
    root_ = fs::canonical(root_).string();
  }
  void TearDown() override { kst::RemoveTree(base_); }

  int Map(const std::string& path, FinalLink final_link, std::string* host = nullptr) {
    std::string ignored;
    return AfcPathMapper(root_).Map(path, final_link, host ? host : &ignored);
  }

  std::string base_;
  std::string root_;
};

TEST_F(AfcPathTest, PathsResolveInsideTheRootWithOrWithoutLeadingSlash) {
  std::string host;
  ASSERT_EQ(Map("/DCIM/100APPLE", FinalLink::kFollow, &host), kAfcSuccess);
  EXPECT_EQ(host, root_ + "/DCIM/100APPLE");
  ASSERT_EQ(Map("DCIM//./100APPLE/", FinalLink::kFollow, &host), kAfcSuccess);
  EXPECT_EQ(host, root_ + "/DCIM/100APPLE");
  ASSERT_EQ(Map("/DCIM/../Books", FinalLink::kDontFollow, &host), kAfcSuccess);
  EXPECT_EQ(host, root_ + "/Books");
  ASSERT_EQ(Map("/", FinalLink::kFollow, &host), kAfcSuccess);
  EXPECT_EQ(host, root_);
  EXPECT_TRUE(AfcPathMapper::IsRoot("/./DCIM/.."));
}

TEST_F(AfcPathTest, ClimbingAboveTheRootIsRefused) {
  for (const char* path : {"..", "/..", "/../outside/secret", "DCIM/../../outside", "/DCIM/100APPLE/../../../x"}) {
    EXPECT_EQ(Map(path, FinalLink::kFollow), kAfcPermissionDenied) << path;
    EXPECT_EQ(Map(path, FinalLink::kDontFollow), kAfcPermissionDenied) << path;
  }
}

TEST_F(AfcPathTest, LinksLeadingOutOfTheRootAreNotFollowed) {
  fs::create_symlink(base_ + "/outside", root_ + "/escape");
  fs::create_symlink(base_ + "/outside/secret", root_ + "/secret-link");
  fs::create_symlink("DCIM", root_ + "/inner-link");
  EXPECT_EQ(Map("/escape/secret", FinalLink::kFollow), kAfcPermissionDenied);
  EXPECT_EQ(Map("/escape/secret", FinalLink::kDontFollow), kAfcPermissionDenied);
  EXPECT_EQ(Map("/secret-link", FinalLink::kFollow), kAfcPermissionDenied);
  // The link itself may be looked at and removed.
  EXPECT_EQ(Map("/secret-link", FinalLink::kDontFollow), kAfcSuccess);
  EXPECT_EQ(Map("/inner-link/100APPLE", FinalLink::kFollow), kAfcSuccess);
}

TEST_F(AfcPathTest, LinksAreJudgedByWhereTheyLeadWhateverTheirForm) {
  fs::create_symlink("../../outside", root_ + "/DCIM/climb");          // relative, climbing out
  fs::create_symlink(root_ + "/DCIM", root_ + "/absolute-inside");      // absolute, staying inside
  fs::create_symlink(base_ + "/nowhere", root_ + "/dangling-outside");  // absolute, to nothing
  fs::create_symlink("100APPLE", root_ + "/DCIM/relative-inside");
  EXPECT_EQ(Map("/DCIM/climb/secret", FinalLink::kDontFollow), kAfcPermissionDenied);
  EXPECT_EQ(Map("/DCIM/climb/new/file", FinalLink::kDontFollow), kAfcPermissionDenied);
  EXPECT_EQ(Map("/DCIM/climb", FinalLink::kFollow), kAfcPermissionDenied);
  EXPECT_EQ(Map("/dangling-outside/x", FinalLink::kDontFollow), kAfcPermissionDenied);
  // Opening it to create a file would create that file outside.
  EXPECT_EQ(Map("/dangling-outside", FinalLink::kFollow), kAfcPermissionDenied);
  EXPECT_EQ(Map("/dangling-outside", FinalLink::kDontFollow), kAfcSuccess);
  std::string host;
  ASSERT_EQ(Map("/absolute-inside/100APPLE/IMG_0001.JPG", FinalLink::kFollow, &host), kAfcSuccess);
  EXPECT_EQ(host, root_ + "/absolute-inside/100APPLE/IMG_0001.JPG");
  EXPECT_EQ(Map("/DCIM/relative-inside", FinalLink::kFollow), kAfcSuccess);
  // Paths that do not exist (yet) below the tree map to where they would be.
  ASSERT_EQ(Map("/New/Folder/file.txt", FinalLink::kFollow, &host), kAfcSuccess);
  EXPECT_EQ(host, root_ + "/New/Folder/file.txt");
}

TEST_F(AfcPathTest, UnusablePathsAreInvalidArguments) {
  EXPECT_EQ(Map(std::string("/DCIM\0/x", 8), FinalLink::kFollow), kAfcInvalidArgument);
  EXPECT_EQ(Map("/" + std::string(5000, 'a'), FinalLink::kFollow), kAfcInvalidArgument);
}

}  // namespace
}  // namespace vdevice
