// Storage figures from an asset-metrics message, and the second reply's JSON.
#include <gtest/gtest.h>

#include "iOSAPI/kor_xml_value.h"
#include "platform/vel_json_util.h"
#include "utility/module/basicinfo/kor_storage_report.h"

namespace {

KorValue Metrics(const std::string& params) {
  KorValue value;
  EXPECT_TRUE(KorXmlTextToValue("<plist><dict><key>Command</key><string>AssetMetrics</string><key>Params</key><dict>" +
                                    params + "</dict></dict></plist>",
                                &value));
  return value;
}

std::string Category(const std::string& name, int64_t size, int64_t count, const std::string& inner = "") {
  return "<key>" + name + "</key><dict><key>_PhysicalSize</key><integer>" + std::to_string(size) +
         "</integer><key>_Count</key><integer>" + std::to_string(count) + "</integer>" + inner + "</dict>";
}

TEST(StorageMetricsTest, CategoriesSumThemselvesAndTheDictionariesDirectlyInside) {
  KorStorageResult result;
  KorParseAssetMetrics(
      Metrics("<key>_PhysicalSize</key><integer>1000</integer><key>_FreeSize</key><integer>200</integer>" +
              Category("Photo", 10, 1,
                       Category("CameraRoll", 20, 2, Category("TooDeep", 1000, 1000)) +
                           "<key>_PurgeableSize</key><integer>99</integer>") +
              Category("Music", 5, 7)),
      &result);
  EXPECT_EQ(result.total, 1000);
  EXPECT_EQ(result.free, 200);
  EXPECT_EQ(result.known[1].size, 30);  // Photo: itself and CameraRoll, not deeper
  EXPECT_EQ(result.known[1].count, 3);
  EXPECT_EQ(result.known[5].size, 5);
  EXPECT_TRUE(result.further.empty());
}

TEST(StorageMetricsTest, FurtherCategoriesNeedSizeAndCountAndKeepKeyOrder) {
  KorStorageResult result;
  KorParseAssetMetrics(Metrics(Category("Podcast", 10, 2) + Category("Empty", 40, 0) + Category("Zero", 0, 3) +
                               Category("Audiobook", 7, 1)),
                       &result);
  std::vector<std::pair<std::string, int64_t>> expected = {
      {"Audiobook_Count", 1}, {"Audiobook_PhysicalSize", 7}, {"Podcast_Count", 2}, {"Podcast_PhysicalSize", 10}};
  EXPECT_EQ(result.further, expected);
}

TEST(StorageMetricsTest, ReplyPutsKnownFiguresFirstAndOthersAsTheRest) {
  KorStorageResult result;
  result.cycle_count = 9;
  result.total = 1000;
  result.free = 100;
  result.known[0] = {300, 4};
  result.known[6] = {50, 2};
  result.further = {{"Podcast_Count", 2}, {"Podcast_PhysicalSize", 10}};
  rapidjson::Document reply;
  ASSERT_TRUE(VelJsonUtil::Parse(KorStorageJson(result), &reply));
  auto member = reply.MemberBegin();
  EXPECT_STREQ(member->name.GetString(), "CycleCount");
  EXPECT_STREQ((++member)->name.GetString(), "Application_PhysicalSize");
  EXPECT_EQ(reply["Data_Others_PhysicalSize"].GetInt64(), 1000 - 100 - 300 - 50);
  auto last = reply.MemberEnd();
  --last;
  EXPECT_STREQ(last->name.GetString(), "Podcast_PhysicalSize");
  --last;
  EXPECT_STREQ(last->name.GetString(), "Podcast_Count");
  --last;
  EXPECT_STREQ(last->name.GetString(), "Data_Others_PhysicalSize");

  KorStorageResult nothing;
  ASSERT_TRUE(VelJsonUtil::Parse(KorStorageJson(nothing), &reply));
  EXPECT_FALSE(reply.HasMember("CycleCount"));
  for (const auto& figure : reply.GetObject()) EXPECT_EQ(figure.value.GetInt64(), 0) << figure.name.GetString();
}

TEST(StorageMetricsTest, MessagesWithoutParamsChangeNothing) {
  KorStorageResult result;
  KorValue value;
  ASSERT_TRUE(KorXmlTextToValue("<plist><dict><key>Params</key><string>x</string></dict></plist>", &value));
  KorParseAssetMetrics(value, &result);
  KorParseAssetMetrics(KorValue(), &result);
  EXPECT_EQ(result.total, 0);
  EXPECT_TRUE(result.further.empty());
}

}  // namespace
