// Staging device files into the per-device folder of the work folder, against the simulated
// iPhone: companions, which local files survive a restaging, and when slots change.
#include <cstdio>

#include "Tandrel/kor_process.h"
#include "shared_device.h"
#include "utility/kor_database_staging.h"

namespace {

class StagingTest : public DeviceAfcTest {
 protected:
  void SetUp() override {
    DeviceAfcTest::SetUp();
    work_ = temp.Path() + "/work/";
    KorProcess::Get().SetFolders(temp.Path(), work_);
  }
  void TearDown() override {
    for (const std::string& path : written_) std::remove(LocalOf(path).c_str());
    DeviceAfcTest::TearDown();
  }
  void OnDevice(const std::string& device_path, const std::string& content) {
    ASSERT_TRUE(kst::CreateDirectories(kst::ParentFolder(LocalOf(device_path))));
    ASSERT_TRUE(kst::WriteWholeFile(LocalOf(device_path), content));
    written_.push_back(device_path);
  }
  void OffDevice(const std::string& device_path) { std::remove(LocalOf(device_path).c_str()); }
  std::string Staged(const std::string& name) const {
    std::string content;
    return kst::ReadWholeFile(folder() + name, &content) ? content : "<missing>";
  }
  std::string folder() const { return work_ + device->UniqueDeviceId() + "/"; }

  std::string work_;
  std::vector<std::string> written_;
};

TEST_F(StagingTest, PhotoLibraryCompanionsAndSlotFollowTheRules) {
  OnDevice("/PhotoData/Photos.sqlite", "main-1");
  OnDevice("/PhotoData/Photos.sqlite-wal", "wal-1");
  OnDevice("/PhotoData/Photos.sqlite-shm", "shm-1");
  ASSERT_TRUE(KorStageFile(*device, afc, KorStagedFile::kPhotoLibrary));
  EXPECT_EQ(device->StagedPath(kKorSlotPhotoLibrary), folder() + "Photos.sqlite");
  EXPECT_EQ(Staged("Photos.sqlite"), "main-1");
  EXPECT_EQ(Staged("Photos.sqlite-wal"), "wal-1");
  EXPECT_EQ(Staged("Photos.sqlite-shm"), "shm-1");

  // A device without its -wal now: the new main file is copied, the older local -wal stays.
  OffDevice("/PhotoData/Photos.sqlite-wal");
  OnDevice("/PhotoData/Photos.sqlite", "main-2");
  ASSERT_TRUE(KorStageFile(*device, afc, KorStagedFile::kPhotoLibrary));
  EXPECT_EQ(Staged("Photos.sqlite"), "main-2");
  EXPECT_EQ(Staged("Photos.sqlite-wal"), "wal-1");

  // A failed main copy keeps the slot and the local file.
  OffDevice("/PhotoData/Photos.sqlite");
  EXPECT_FALSE(KorStageFile(*device, afc, KorStagedFile::kPhotoLibrary));
  EXPECT_EQ(device->StagedPath(kKorSlotPhotoLibrary), folder() + "Photos.sqlite");
  EXPECT_EQ(Staged("Photos.sqlite"), "main-2");
}

TEST_F(StagingTest, BookListsSetTheirSlotEvenWhenMissingAndTheMusicPairNeedsBoth) {
  OffDevice("/Books/Books.plist");
  EXPECT_FALSE(KorStageFile(*device, afc, KorStagedFile::kBookList));
  EXPECT_EQ(device->StagedPath(kKorSlotBooks), folder() + "Books.plist");

  const std::string itlp = "/iTunes_Control/iTunes/iTunes Library.itlp/";
  OnDevice(itlp + "Library.itdb", "library");
  OffDevice(itlp + "Locations.itdb");
  EXPECT_FALSE(KorStageFile(*device, afc, KorStagedFile::kMusicLibrary));
  EXPECT_EQ(device->StagedPath(kKorSlotMusicLibrary), "");
  EXPECT_EQ(device->StagedPath(kKorSlotLocations), "");
  OnDevice(itlp + "Locations.itdb", "locations");
  OnDevice(itlp + "Locations.itdb.cbk", "checksums");
  OnDevice(itlp + "Library.itdb-wal", "library-wal");
  ASSERT_TRUE(KorStageFile(*device, afc, KorStagedFile::kMusicLibrary));
  EXPECT_EQ(device->StagedPath(kKorSlotMusicLibrary), folder() + "Library.itdb");
  EXPECT_EQ(device->StagedPath(kKorSlotLocations), folder() + "Locations.itdb");
  EXPECT_EQ(Staged("Locations.itdb.cbk"), "checksums");
  EXPECT_EQ(Staged("Library.itdb-wal"), "library-wal");
  EXPECT_EQ(Staged("Library.itdb-journal"), "<missing>");

  OnDevice("/iTunes_Control/iTunes/Ringtones.plist", "<plist/>");
  EXPECT_TRUE(KorStageFile(*device, afc, KorStagedFile::kRingtones));
  EXPECT_EQ(Staged("Ringtones.plist"), "<plist/>");
}

TEST_F(StagingTest, EachDeviceHasItsOwnSiblingFolder) {
  OnDevice("/iTunes_Control/iTunes/iTunesCDB", "cdb");
  KorDevice other(nullptr);
  KorDeviceInfo info;
  info.unique_device_id = "00008110-SECONDDEVICE";
  other.SetInfo(info);
  ASSERT_TRUE(KorStageFile(other, afc, KorStagedFile::kITunesCdb));
  ASSERT_TRUE(KorStageFile(*device, afc, KorStagedFile::kITunesCdb));
  EXPECT_EQ(other.StagedPath(kKorSlotITunesCdb), work_ + "00008110-SECONDDEVICE/iTunesCDB");
  EXPECT_EQ(device->StagedPath(kKorSlotITunesCdb), folder() + "iTunesCDB");
  // An identifier that would leave the work folder names no folder at all.
  info.unique_device_id = "../outside";
  other.SetInfo(info);
  EXPECT_FALSE(KorStageFile(other, afc, KorStagedFile::kITunesCdb));
  EXPECT_FALSE(kst::PathExists(temp.Path() + "/outside"));
}

}  // namespace
