// The photo module against simulated iPhones carrying photo libraries of the three generations:
// listings compared with what the fixture generator planned, thumbnails, deleting by name and
// hostile library files.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frontend_message.h"
#include "module_fixture.h"
#include "photo_expectations.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

using namespace std::chrono_literals;
using vdevice_fixtures::PhotoLibraryOptions;
using vdevice_fixtures::PhotoLibraryPlan;
using vdevice_fixtures::PlanPhotoLibrary;

namespace {

struct Listing {
  int64_t final_code = -1;
  std::vector<int64_t> counts;  // the "Count" of every intermediate message
  std::vector<size_t> batch_sizes;
  std::vector<rapidjson::Document> objects;
};

Listing ReadListing(const std::vector<frontend::Message>& messages) {
  Listing listing;
  for (const frontend::Message& message : messages) {
    if (message.status != 2) {
      listing.final_code = message.code;
      continue;
    }
    rapidjson::Document info;
    int64_t count = -1;
    if (message.info && VelJsonUtil::Parse(*message.info, &info)) VelJsonUtil::GetInt64(info, "Count", &count);
    listing.counts.push_back(count);
    if (message.stage != 2) continue;
    rapidjson::Document batch = AttachmentJson(message);
    if (!batch.IsArray()) continue;
    listing.batch_sizes.push_back(batch.Size());
    for (auto& entry : batch.GetArray()) {
      rapidjson::Document object;
      object.CopyFrom(entry, object.GetAllocator());
      listing.objects.push_back(std::move(object));
    }
  }
  return listing;
}

int64_t Number(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsInt64() ? object[key].GetInt64() : INT64_MIN;
}
std::string Text(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsString() ? object[key].GetString() : "<missing>";
}

std::string ReadLogs(const std::string& folder) {
  std::string all;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::string text;
    if (entry.is_regular_file() && kst::ReadWholeFile(entry.path().string(), &text)) all += text;
  }
  return all;
}

bool RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

class PhotoModuleTest : public ModuleTest {
 protected:
  // Serves one photo profile with Tandrel logging to its log folder.
  void StartPhotos(const std::string& kind, const std::vector<std::string>& options = {},
                   const std::function<void(const std::string&)>& edit = nullptr) {
    profile = vd.MakeProfile(kind, "", "", options);
    ASSERT_FALSE(profile.empty());
    if (edit) edit(profile);
    ASSERT_TRUE(vd.Start({profile}));
    StartTandrel();
    auto ready = tandrel->Link().WaitFor(1, 30s);
    ASSERT_TRUE(ready) << vd.ServerLog();
    udid = ready->uuid;
    code = ready->code;
  }
  void StartTandrel() {
    harness::TandrelOptions options;
    options.open_log = 1;
    options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
    tandrel = std::make_unique<harness::Tandrel>(options);
    ASSERT_TRUE(tandrel->Start());
  }
  Listing List(uint32_t command, const std::string& info = "\"refresh\":0") {
    return ReadListing(Run(command, DeviceJson("\"info\":{" + info + "}")));
  }
  std::string Logs() const { return ReadLogs(tandrel->LogFolder()); }
};

// Every photo and album the generator planned is listed, in order, with its values.
void ExpectListingsMatch(PhotoModuleTest* test, const PhotoLibraryPlan& plan,
                         const std::function<Listing(uint32_t, const std::string&)>& list) {
  auto expected_photos = ExpectedPhotos(plan);
  Listing photos = list(400, "\"refresh\":0");
  EXPECT_EQ(photos.final_code, 0);
  ASSERT_EQ(photos.objects.size(), expected_photos.size());
  for (int64_t count : photos.counts) EXPECT_EQ(count, static_cast<int64_t>(expected_photos.size()));
  for (size_t i : {size_t{0}, expected_photos.size() - 1}) {
    const auto& object = photos.objects[i];
    const auto& asset = *expected_photos[i];
    EXPECT_EQ(Number(object, "Z_PK"), asset.pk);
    EXPECT_EQ(Text(object, "PATH"), asset.Path());
    EXPECT_EQ(Text(object, "ZDATECREATED"), LocalDate(asset.date_created));
    EXPECT_EQ(Text(object, "ZMODIFICATIONDATE"), LocalDate(asset.modification_date));
    EXPECT_EQ(Number(object, "ZORIENTATION"), asset.orientation);
  }
  EXPECT_EQ(Keys(photos.objects[0]), (std::vector<std::string>{"PATH", "Z_PK", "ZSAVEDASSETTYPE", "ZORIENTATION",
                                                                "ZADDITIONALATTRIBUTES", "ZDATECREATED",
                                                                "ZMODIFICATIONDATE", "ZORIGINALFILESIZE"}));
  auto expected_albums = ExpectedAlbums(plan);
  Listing albums = list(401, "\"refresh\":0");
  EXPECT_EQ(albums.final_code, 0);
  ASSERT_EQ(albums.objects.size(), expected_albums.size());
  for (size_t i = 0; i < expected_albums.size(); ++i) {
    const ExpectedAlbum& album = expected_albums[i];
    SCOPED_TRACE("album " + std::to_string(i) + " type " + std::to_string(album.type));
    EXPECT_EQ(Number(albums.objects[i], "TYPE"), album.type);
    EXPECT_EQ(Number(albums.objects[i], "Z_PK"), album.pk);
    EXPECT_EQ(Number(albums.objects[i], "COUNT"), album.count);
    EXPECT_EQ(Text(albums.objects[i], "TITLE"), album.title);
    Listing members = list(402, "\"refresh\":0,\"album_id\":" + std::to_string(album.pk) +
                                    ",\"album_type\":" + std::to_string(album.type));
    std::vector<int64_t> keys;
    for (const auto& object : members.objects) keys.push_back(Number(object, "Z_PK"));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, ExpectedAlbumPhotos(plan, album));
  }
  (void)test;
}

}  // namespace

TEST_F(PhotoModuleTest, Ios16LibraryWithRowsOnlyInItsWalListsEverything) {
  StartPhotos("photos-ios16");
  PhotoLibraryOptions options;
  options.product_version = "16.6";
  PhotoLibraryPlan plan = PlanPhotoLibrary(options);
  ASSERT_TRUE(plan.HasWal());
  ASSERT_TRUE(kst::PathExists(DeviceFile("/PhotoData/Photos.sqlite-wal")));
  ExpectListingsMatch(this, plan, [this](uint32_t command, const std::string& info) { return List(command, info); });
  // The newest photo lives only in the -wal: it heads the list, so the companions were staged.
  Listing photos = List(400);
  ASSERT_FALSE(photos.objects.empty());
  EXPECT_EQ(Number(photos.objects[0], "Z_PK"), plan.assets.back().pk);
  EXPECT_TRUE(kst::PathExists(tandrel->WorkFolder() + udid + "/Photos.sqlite"));
  // Later listings for the same version go straight to the function that worked.
  EXPECT_NE(Logs().find("photo query: the cached function for 16.6"), std::string::npos);
}

TEST_F(PhotoModuleTest, Ios12LibraryUsesTheGenericAssetTable) {
  StartPhotos("photos-ios12");
  PhotoLibraryOptions options;
  options.product_version = "12.4";
  ExpectListingsMatch(this, PlanPhotoLibrary(options),
                      [this](uint32_t command, const std::string& info) { return List(command, info); });
}

TEST_F(PhotoModuleTest, Ios5LibraryUsesTheOldestTables) {
  StartPhotos("photos-ios5");
  PhotoLibraryOptions options;
  options.product_version = "5.1.1";
  ExpectListingsMatch(this, PlanPhotoLibrary(options),
                      [this](uint32_t command, const std::string& info) { return List(command, info); });
}

TEST_F(PhotoModuleTest, Version13Point7ReadsZGenericAssetAnd14Point0ReadsZAsset) {
  std::string older = vd.MakeProfile("photos-ios12", "v137", "", {"--version", "13.7"});
  std::string newer = vd.MakeProfile("photos-ios16", "v140", "", {"--version", "14.0"});
  ASSERT_FALSE(older.empty());
  ASSERT_FALSE(newer.empty());
  ASSERT_TRUE(vd.Start({older, newer}));
  StartTandrel();
  ASSERT_TRUE(tandrel->Link().WaitFor(1, 30s));
  ASSERT_TRUE(tandrel->Link().WaitFor(1, 30s));
  for (const auto& [folder, version] : {std::pair{older, "13.7"}, std::pair{newer, "14.0"}}) {
    udid = vdevice_test::VdeviceFixture::ProfileUdid(folder);
    code = 0;
    PhotoLibraryOptions options;
    options.product_version = version;
    Listing photos = List(400);
    EXPECT_EQ(photos.objects.size(), ExpectedPhotos(PlanPhotoLibrary(options)).size()) << version;
    EXPECT_TRUE(kst::PathExists(tandrel->WorkFolder() + udid + "/Photos.sqlite"));
  }
  std::string logs = Logs();
  EXPECT_EQ(logs.find("FROM ZASSET a"), std::string::npos) << "13.7 never tries ZASSET, 14.0 succeeds first";
}

TEST_F(PhotoModuleTest, LibraryWithoutTrashedStateListsEveryAssetAndNoRecentlyDeleted) {
  StartPhotos("photos-ios16", {}, [](const std::string& folder) {
    ASSERT_TRUE(RunSql(folder + "/afc/PhotoData/Photos.sqlite",
                       "ALTER TABLE ZASSET DROP COLUMN ZTRASHEDSTATE; ALTER TABLE ZGENERICALBUM DROP COLUMN ZTRASHEDSTATE;"));
  });
  PhotoLibraryOptions options;
  options.product_version = "16.6";
  PhotoLibraryPlan plan = PlanPhotoLibrary(options);
  Listing photos = List(400);
  EXPECT_EQ(photos.objects.size(), plan.assets.size());
  Listing albums = List(401);
  EXPECT_EQ(albums.final_code, 0);
  EXPECT_FALSE(albums.objects.empty());
  for (const auto& album : albums.objects) EXPECT_NE(Number(album, "TYPE"), 5);
}

TEST_F(PhotoModuleTest, TwelveHundredFiftyPhotosGoInBatchesOf600) {
  StartPhotos("photos-ios16", {"--assets", "1250"}, [](const std::string& folder) {
    ASSERT_TRUE(RunSql(folder + "/afc/PhotoData/Photos.sqlite", "UPDATE ZASSET SET ZTRASHEDSTATE = 0;"));
  });
  Listing photos = List(400);
  EXPECT_EQ(photos.batch_sizes, (std::vector<size_t>{600, 600, 50}));
  EXPECT_EQ(photos.counts, (std::vector<int64_t>{1250, 1250, 1250, 1250}));
}

TEST_F(PhotoModuleTest, ThumbnailsComeFromTheFirstPlaceThatHasThem) {
  StartPhotos("photos-ios12");
  // 9: in .THMB and V2; 6: Metadata .JPG; 1: V2 only; 2: none anywhere.
  std::string request = R"([{"id":9,"path":"DCIM/100APPLE/IMG_0009.JPG"},{"id":"six","path":"DCIM/100APPLE/IMG_0006.JPG"},
                            {"id":1,"path":"DCIM/100APPLE/IMG_0001.JPG"},{"id":2,"path":"DCIM/100APPLE/IMG_0002.JPG"}])";
  auto messages = Run(403, DeviceJson(), Compressed(request));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, 0);
  std::vector<std::string> infos;
  for (const auto& message : messages) {
    if (message.status != 2) continue;
    infos.push_back(message.info.value_or(""));
    rapidjson::Document info;
    ASSERT_TRUE(VelJsonUtil::Parse(*message.info, &info));
    std::string on_disk;
    ASSERT_TRUE(kst::ReadWholeFile(DeviceFile(Text(info, "path")), &on_disk));
    EXPECT_EQ(message.attachment, on_disk);
  }
  ASSERT_EQ(infos.size(), 3u);
  EXPECT_EQ(infos[0].find(R"({"id":9,"path":"/DCIM/.THMB/)"), 0u) << infos[0];
  EXPECT_EQ(infos[1], R"({"id":"six","path":"/PhotoData/Metadata/DCIM/100APPLE/IMG_0006.JPG"})");
  EXPECT_EQ(infos[2], R"({"id":1,"path":"/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_0001.JPG/5003.JPG"})");
  std::string logs = Logs();
  EXPECT_NE(logs.find("QueryThumbnailListFromPhotoId fail: DCIM/100APPLE/IMG_0002.JPG"), std::string::npos);
  EXPECT_NE(logs.find("QueryThumbnailListFromPhotoId End Count: 3"), std::string::npos);
  EXPECT_EQ(Run(403, DeviceJson(), "not compressed").back().code, 8);
}

TEST_F(PhotoModuleTest, DeletingByNameWorksAcrossDevicesAndNeverOnAnEmptyName) {
  std::string old_phone = vd.MakeProfile("photos-ios5");
  std::string new_phone = vd.MakeProfile("photos-ios16");
  ASSERT_TRUE(vd.Start({old_phone, new_phone}));
  StartTandrel();
  ASSERT_TRUE(tandrel->Link().WaitFor(1, 30s));
  auto second = tandrel->Link().WaitFor(1, 30s);
  ASSERT_TRUE(second);
  udid = second->uuid;
  auto files_of = [](const std::string& folder) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder + "/afc/DCIM")) {
      count += entry.is_regular_file() ? 1 : 0;
    }
    return count;
  };
  size_t old_files = files_of(old_phone);
  size_t new_files = files_of(new_phone);
  EXPECT_EQ(Run(404, DeviceJson(), Compressed(R"({"name":""})")).back().code, 1);
  EXPECT_EQ(Run(404, DeviceJson(), Compressed(R"({"name":"NO_SUCH_NAME"})")).back().code, 1);
  EXPECT_EQ(files_of(old_phone), old_files);
  EXPECT_EQ(files_of(new_phone), new_files);
  // IMG_004x exist only on the iOS 16 phone (the iOS 5 one has 24 photos), whichever is walked first.
  EXPECT_EQ(Run(404, DeviceJson(), Compressed(R"({"name":"IMG_004"})")).back().code, 0);
  EXPECT_FALSE(kst::PathExists(new_phone + "/afc/DCIM/100APPLE/IMG_0041.JPG"));
  EXPECT_FALSE(kst::PathExists(new_phone + "/afc/DCIM/100APPLE/IMG_0044.JPG"));
  EXPECT_TRUE(kst::PathExists(new_phone + "/afc/DCIM/100APPLE/IMG_0051.JPG"));
  EXPECT_EQ(files_of(old_phone), old_files);
  EXPECT_TRUE(kst::IsDirectory(new_phone + "/afc/DCIM/100APPLE"));
  // Both devices stage into sibling folders of the one work folder.
  for (const std::string& folder : {old_phone, new_phone}) {
    udid = vdevice_test::VdeviceFixture::ProfileUdid(folder);
    EXPECT_EQ(List(400).final_code, 0);
    EXPECT_TRUE(kst::PathExists(tandrel->WorkFolder() + udid + "/Photos.sqlite")) << udid;
  }
}

TEST_F(PhotoModuleTest, HostileLibrariesEndWithAnEmptyListingNeverACrash) {
  StartPhotos("photos-ios16");
  std::string library = DeviceFile("/PhotoData/Photos.sqlite");
  std::remove((library + "-wal").c_str());
  std::remove((library + "-shm").c_str());
  auto expect_empty = [&](const std::string& what) {
    for (uint32_t command : {400u, 401u, 402u}) {
      Listing listing = List(command, "\"refresh\":1,\"album_id\":5,\"album_type\":0");
      EXPECT_EQ(listing.final_code, 0) << what << " " << command;
      EXPECT_EQ(listing.counts, std::vector<int64_t>{0}) << what << " " << command;
    }
  };
  ASSERT_TRUE(kst::WriteWholeFile(library, std::string(8192, 'x')));
  expect_empty("not SQLite");
  std::remove(library.c_str());
  ASSERT_TRUE(RunSql(library, "CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, FOO TEXT);"
                              "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, BAR TEXT);"
                              "CREATE TABLE Z_28ASSETS (Z_28ALBUMS INTEGER, Z_3ASSETS INTEGER);"
                              "INSERT INTO ZASSET VALUES (1, 'a'); INSERT INTO ZGENERICALBUM VALUES (1, 'b');"
                              "INSERT INTO Z_28ASSETS VALUES (1, 1);"));
  expect_empty("wrong columns");
  std::remove(library.c_str());
  PhotoLibraryOptions options;
  options.product_version = "16.6";
  PhotoLibraryPlan plan = PlanPhotoLibrary(options);
  ASSERT_TRUE(RunSql(library, "CREATE TABLE Z_28ASSETS (Z_28ALBUMS INTEGER, ASSET INTEGER);"
                              "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, ZKIND INTEGER, ZTITLE VARCHAR);"));
  Listing albums = List(401, "\"refresh\":1");
  EXPECT_EQ(albums.final_code, 0);
  EXPECT_EQ(albums.counts, std::vector<int64_t>{0});
  std::remove(library.c_str());
  EXPECT_EQ(Run(400, DeviceJson("\"info\":{\"refresh\":1}")).back().code, 18) << "no library on the device";
  EXPECT_EQ(Run(400, "{\"uuid\":\"0000\"}").back().code, 7);
}
