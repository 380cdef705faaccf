// The generated photo libraries: each generation's tables, Core Data's bookkeeping, rows kept only
// in the -wal, and the files and thumbnails the rows point at.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "photo_library_plan.h"
#include "photo_library_writer.h"
#include "platform/kst_file.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace {

using vdevice_fixtures::PhotoLibraryOptions;
using vdevice_fixtures::PhotoLibraryPlan;
using vdevice_fixtures::PhotoSchema;
using vdevice_fixtures::ThumbnailPlace;

class PhotoLibraryFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = kst::TempFolder() + "photo-library-fixture-" + std::to_string(kst::CurrentProcessId());
    kst::RemoveTree(folder_);
  }
  void TearDown() override { kst::RemoveTree(folder_); }

  PhotoLibraryPlan Write(const std::string& version, const std::string& name) {
    PhotoLibraryOptions options;
    options.product_version = version;
    PhotoLibraryPlan plan = vdevice_fixtures::PlanPhotoLibrary(options);
    std::string error;
    EXPECT_TRUE(vdevice_fixtures::WritePhotoLibrary(plan, folder_ + "/" + name, &error)) << error;
    return plan;
  }
  // The first column of the first row, as text ("" when there is none or the query fails).
  static std::string Query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string result;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(statement, 0);
        result = text ? reinterpret_cast<const char*>(text) : "";
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
  }
  // A copy of the library's main file alone or with its -wal.
  std::string Copy(const std::string& name, bool with_wal) {
    std::string source = folder_ + "/" + name + "/PhotoData/Photos.sqlite";
    std::string copy = folder_ + "/" + name + (with_wal ? "-with-wal.sqlite" : "-main-only.sqlite");
    std::filesystem::copy_file(source, copy);
    if (with_wal) std::filesystem::copy_file(source + "-wal", copy + "-wal");
    return copy;
  }

  std::string folder_;
};

TEST_F(PhotoLibraryFixtureTest, Ios16KeepsItsNewestAssetsOnlyInTheWal) {
  PhotoLibraryPlan plan = Write("16.6", "ios16");
  ASSERT_EQ(plan.schema, PhotoSchema::kAsset);
  ASSERT_TRUE(plan.HasWal());
  std::string total = std::to_string(plan.assets.size());
  std::string main_only = Copy("ios16", false);
  std::string with_wal = Copy("ios16", true);
  EXPECT_LT(std::stoi(Query(main_only, "SELECT count(*) FROM ZASSET")), static_cast<int>(plan.assets.size()));
  EXPECT_EQ(Query(with_wal, "SELECT count(*) FROM ZASSET"), total);
  EXPECT_EQ(Query(with_wal, "SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_NAME = 'Asset'"), total);
  EXPECT_EQ(Query(with_wal, "SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'Album'"), "28");
  EXPECT_EQ(Query(with_wal, "SELECT name FROM sqlite_master WHERE name LIKE 'Z\\_%ASSETS' ESCAPE '\\'"), "Z_28ASSETS");
  EXPECT_NE(Query(with_wal, "SELECT sql FROM sqlite_master WHERE name = 'Z_28ASSETS'").find("Z_3ASSETS INTEGER"),
            std::string::npos);
  EXPECT_EQ(Query(with_wal, "SELECT count(*) FROM ZASSET a JOIN ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK"),
            total);
}

TEST_F(PhotoLibraryFixtureTest, GenerationsKeepTheirOwnTables) {
  PhotoLibraryPlan ios12 = Write("12.4", "ios12");
  PhotoLibraryPlan ios5 = Write("5.1.1", "ios5");
  std::string ios12_db = folder_ + "/ios12/PhotoData/Photos.sqlite";
  std::string ios5_db = folder_ + "/ios5/PhotoData/Photos.sqlite";
  EXPECT_EQ(Query(ios12_db, "SELECT count(*) FROM ZGENERICASSET"), std::to_string(ios12.assets.size()));
  EXPECT_EQ(Query(ios12_db, "SELECT count(*) FROM sqlite_master WHERE name = 'ZASSET'"), "0");
  EXPECT_EQ(Query(ios12_db, "SELECT Z_NAME FROM Z_PRIMARYKEY WHERE Z_ENT = 23"), "Album");
  EXPECT_EQ(Query(ios12_db, "SELECT count(*) FROM Z_23ASSETS"), Query(ios12_db, "SELECT sum(ZCACHEDCOUNT) FROM ZGENERICALBUM"));
  EXPECT_LE(kst::FileSize(ios12_db + "-wal"), 0) << "everything of iOS 12 is checkpointed";
  EXPECT_EQ(Query(ios5_db, "SELECT count(*) FROM Photo"), std::to_string(ios5.assets.size()));
  EXPECT_EQ(Query(ios5_db, "SELECT count(*) FROM PhotoAlbumToPhotoJoin j, PhotoAlbum a WHERE j.left = a.primaryKey "
                           "AND a.kind = 1000"),
            std::to_string(ios5.assets.size()));
  EXPECT_EQ(Query(ios5_db, "SELECT count(*) FROM sqlite_master WHERE name LIKE 'Z%'"), "0");
}

TEST_F(PhotoLibraryFixtureTest, FilesAndThumbnailsSitWhereTheRowsSay) {
  PhotoLibraryPlan plan = Write("12.4", "files");
  std::string root = folder_ + "/files";
  int thumbnails = 0;
  for (const auto& asset : plan.assets) {
    std::string file = root + "/" + asset.Path();
    ASSERT_TRUE(kst::PathExists(file)) << file;
    kst::PathInfo info;
    ASSERT_EQ(kst::StatPath(file, &info), 0);
    int64_t seconds = static_cast<int64_t>(info.modified_ns / 1000000000);
    EXPECT_EQ(seconds, vdevice_fixtures::kAppleEpochOffset + static_cast<int64_t>(asset.date_created));
    for (ThumbnailPlace place : {ThumbnailPlace::kThmb, ThumbnailPlace::kMetadataJpg, ThumbnailPlace::kMetadataThm,
                                 ThumbnailPlace::kV2}) {
      bool planned = asset.thumbnail == place || (asset.thumbnail == ThumbnailPlace::kThmbAndV2 &&
                                                  (place == ThumbnailPlace::kThmb || place == ThumbnailPlace::kV2));
      std::string path = root + vdevice_fixtures::ThumbnailDevicePath(asset, place, seconds);
      EXPECT_EQ(kst::PathExists(path), planned) << path;
      thumbnails += planned ? 1 : 0;
    }
  }
  EXPECT_GT(thumbnails, static_cast<int>(plan.assets.size()) - 2);
}

}  // namespace
