// The photo module's pure parts: version comparison and try order, the function cache, the
// thumbnail key and places, and the JSON of photo and album records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utility/module/photo/kor_photo_functions.h"
#include "utility/module/photo/kor_photo_query_core_data.h"
#include "utility/module/photo/kor_photo_thumbnail_paths.h"
#include "utility/module/photo/kor_photo_version.h"

namespace {

TEST(PhotoVersionTest, DottedComparisonGoesPartByPart) {
  EXPECT_LT(KorCompareDottedVersion("12", "12.4"), 0);
  EXPECT_GT(KorCompareDottedVersion("12.4", "12"), 0);
  EXPECT_EQ(KorCompareDottedVersion("14", "14"), 0);
  EXPECT_LT(KorCompareDottedVersion("9.3.5", "10"), 0);
  EXPECT_LT(KorCompareDottedVersion("13.7", "13.10"), 0);
  EXPECT_LT(KorCompareDottedVersion("13.7", "14"), 0);
  EXPECT_EQ(KorCompareDottedVersion("14.0", "14"), 1);
  EXPECT_EQ(KorAssetTableFor("13.7"), "ZGENERICASSET");
  EXPECT_EQ(KorAssetTableFor("14.0"), "ZASSET");
  EXPECT_EQ(KorAssetTableFor("17.1"), "ZASSET");
}

TEST(PhotoVersionTest, TryOrderPutsTheDeviceVersionFirst) {
  EXPECT_EQ(KorPhotoTryOrder("12.4"), (std::vector<int>{12, 13, 14, 11, 10, 9, 8, 7, 6, 5, 4}));
  EXPECT_EQ(KorPhotoTryOrder("14.2"), (std::vector<int>{14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4}));
  EXPECT_EQ(KorPhotoTryOrder("16.1"), (std::vector<int>{14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4}));
  EXPECT_EQ(KorPhotoTryOrder("3.1"), (std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  EXPECT_EQ(KorPhotoTryOrder("5.1.1"), (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 4}));
  EXPECT_EQ(KorPhotoTryOrder("").size(), 11u);
}

std::vector<int> g_calls;
int FailingOldest(KorPhotoQuery*) {
  g_calls.push_back(4);
  return 20;
}
int WorkingCoreData(KorPhotoQuery* query) {
  g_calls.push_back(6);
  query->photos.resize(3);
  return 0;
}
int FailingCoreData(KorPhotoQuery* query) {
  g_calls.push_back(7);
  query->photos.resize(1);  // a failed function's partial rows never reach the listing
  return 19;
}

KorPhotoFunctionTable::VersionMap Map(KorPhotoQueryFunction oldest, KorPhotoQueryFunction core_data) {
  KorPhotoFunctionTable::VersionMap map;
  for (int version : KorPhotoSupportedVersions()) map[version] = version <= 5 ? oldest : core_data;
  return map;
}

TEST(PhotoFunctionTableTest, TriesInOrderCachesTheWinnerAndCallsItDirectlyNextTime) {
  g_calls.clear();
  KorPhotoFunctionTable table({Map(FailingOldest, WorkingCoreData), Map(FailingOldest, FailingCoreData),
                               Map(FailingOldest, WorkingCoreData)});
  KorPhotoQuery query;
  query.product_version = "5.1.1";
  EXPECT_TRUE(table.Run(KorPhotoListing::kPhotos, &query));
  EXPECT_EQ(g_calls, (std::vector<int>{4, 6}));  // 5 fails, 6 works
  EXPECT_EQ(query.photos.size(), 3u);
  EXPECT_TRUE(table.HasCached(KorPhotoListing::kPhotos, "5.1.1"));
  EXPECT_FALSE(table.HasCached(KorPhotoListing::kAlbums, "5.1.1"));
  g_calls.clear();
  EXPECT_TRUE(table.Run(KorPhotoListing::kPhotos, &query));
  EXPECT_EQ(g_calls, std::vector<int>{6});

  g_calls.clear();
  query.product_version = "16.1";
  EXPECT_FALSE(table.Run(KorPhotoListing::kAlbums, &query));
  EXPECT_EQ(g_calls.size(), 11u);
  EXPECT_TRUE(query.photos.empty());
  EXPECT_FALSE(table.HasCached(KorPhotoListing::kAlbums, "16.1"));
}

TEST(PhotoThumbnailPathTest, KeyFollowsTheFirstMarkerFound) {
  EXPECT_EQ(KorThumbnailKey("DCIM/100APPLE/IMG_0001.JPG"), "100APPLE___IMG_0001.JPG");
  EXPECT_EQ(KorThumbnailKey("/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG"), "100APPLE___IMG_0001.JPG");
  EXPECT_EQ(KorThumbnailKey("PhotoData/CPLAssets/group1/A.JPG"), "group1___A.JPG");
  EXPECT_EQ(KorThumbnailKey("PhotoData/Sync/100SYNCD/IMG_1.JPG"), "100SYNCD___IMG_1.JPG");
  EXPECT_EQ(KorThumbnailKey("Downloads/x.jpg"), "");
  EXPECT_EQ(KorThmbPath("100APPLE___IMG_0001.JPG", 1562198437), "/DCIM/.THMB/37/100APPLE___IMG_0001.JPG.1562198437");
  EXPECT_EQ(KorThmbPath("k", 5), "/DCIM/.THMB/05/k.5");
}

TEST(PhotoThumbnailPathTest, PlacesComeInTheirOrder) {
  EXPECT_EQ(KorThumbnailCandidates("DCIM/100APPLE/IMG_0001.JPG", true, 1200),
            (std::vector<std::string>{"/DCIM/.THMB/00/100APPLE___IMG_0001.JPG.1200",
                                      "/PhotoData/Metadata/DCIM/100APPLE/IMG_0001.JPG",
                                      "/PhotoData/Metadata/DCIM/100APPLE/IMG_0001.THM",
                                      "/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_0001.JPG/5003.JPG"}));
  // Without file information the .THMB place cannot be named; without an extension no Metadata.
  EXPECT_EQ(KorThumbnailCandidates("/DCIM/100.APPLE/IMG", false, 0),
            (std::vector<std::string>{"/PhotoData/Thumbnails/V2/DCIM/100.APPLE/IMG/5003.JPG"}));
  EXPECT_EQ(KorThumbnailCandidates("", false, 0).size(), 1u);
}

TEST(PhotoRecordTest, ObjectsKeepTheirMemberOrderAndLocalDates) {
  KorPhotoRecord photo;
  photo.pk = 7;
  photo.path = "DCIM/100APPLE/IMG_0007.JPG";
  photo.date_created = KorPhotoDateText(0.9);
  EXPECT_EQ(KorPhotoJson(photo).rfind("{\"PATH\":\"DCIM/100APPLE/IMG_0007.JPG\",\"Z_PK\":7,\"ZSAVEDASSETTYPE\":0,"
                                      "\"ZORIENTATION\":0,\"ZADDITIONALATTRIBUTES\":0,\"ZDATECREATED\":",
                                      0),
            0u);
  EXPECT_EQ(KorPhotoDateText(1e300), KorPhotoDateText(0));
  EXPECT_EQ(KorPhotoDateText(59.99), KorPhotoDateText(59.0));
  KorAlbumRecord album{12, 0, "", 0, 2};
  EXPECT_EQ(KorAlbumJson(album), R"({"COUNT":12,"Z_PK":0,"TITLE":"","ZKIND":0,"TYPE":2})");
}

}  // namespace
