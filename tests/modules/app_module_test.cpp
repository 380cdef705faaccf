// Applications through Tandrel against the simulated iPhone: the listing in batches with the
// decoded store metadata and sizes (checked against ideviceinstaller's own listing), icons,
// installs from .ipa packages (hostile ones too), uninstalls and archives.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"
#include "sample_apps.h"

namespace {

using vdevice_fixtures::IpaRequest;

std::string JsonArray(const std::vector<std::string>& items) {
  std::string text = "[";
  for (const std::string& item : items) text += (text.size() > 1 ? ",\"" : "\"") + item + "\"";
  return text + "]";
}

class AppModuleTest : public ModuleTest {
 protected:
  // Runs 501 and returns every record by bundle identifier, checking the count-then-batches shape.
  std::map<std::string, rapidjson::Document> ListApps(std::vector<size_t>* batch_sizes = nullptr) {
    auto messages = Run(501, DeviceJson());
    std::map<std::string, rapidjson::Document> records;
    EXPECT_GE(messages.size(), 2u);
    if (messages.size() < 2) return records;
    EXPECT_EQ(messages.back().status, 1);
    EXPECT_EQ(messages.front().stage, 1);
    EXPECT_EQ(messages.front().uuid, udid);
    rapidjson::Document count;
    VelJsonUtil::Parse(messages.front().info.value_or(""), &count);
    int64_t announced = -1;
    VelJsonUtil::GetInt64(count, "Count", &announced);
    for (size_t i = 1; i + 1 < messages.size(); ++i) {
      EXPECT_EQ(messages[i].stage, 2);
      rapidjson::Document batch = AttachmentJson(messages[i]);
      EXPECT_TRUE(batch.IsObject());
      if (!batch.IsObject()) continue;
      if (batch_sizes) batch_sizes->push_back(batch.MemberCount());
      for (auto& member : batch.GetObject()) {
        rapidjson::Document record;
        record.CopyFrom(member.value, record.GetAllocator());
        records.emplace(member.name.GetString(), std::move(record));
      }
    }
    EXPECT_EQ(announced, static_cast<int64_t>(records.size()));
    return records;
  }

  std::vector<frontend::Message> RunWithIds(uint32_t command, const std::vector<std::string>& items) {
    return Run(command, DeviceJson(), Compressed(JsonArray(items)));
  }

  std::string WriteIpa(const std::string& name, const IpaRequest& request) {
    std::string path = vd.folder() + "/" + name;
    std::string error;
    EXPECT_TRUE(vdevice_fixtures::WriteSampleIpa(path, request, &error)) << error;
    return path;
  }

  std::vector<std::string> InstallerListing() {
    auto listed = vd.RunTool("ideviceinstaller", {"-u", udid, "-l"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    std::vector<std::string> ids;
    std::istringstream lines(listed.out);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) ids.push_back(line.substr(0, line.find(',')));
    return ids;
  }
};

std::string Text(const rapidjson::Value& record, const char* key) {
  auto member = record.FindMember(key);
  return member != record.MemberEnd() && member->value.IsString() ? member->value.GetString() : "<missing>";
}

TEST_F(AppModuleTest, ListingCountsThenSendsBatchesOfTenWithMetadataAndSizes) {
  StartWith("demo");
  std::vector<size_t> batches;
  auto records = ListApps(&batches);
  EXPECT_EQ(batches, (std::vector<size_t>{10, 10, 5}));
  ASSERT_EQ(records.size(), 25u);
  EXPECT_EQ(records.count("com.apple.mobilesafari"), 0u) << "system applications are not listed";

  const rapidjson::Value& chess = records.at("com.example.chess");  // metadata with the plain account keys
  EXPECT_EQ(Text(chess, "ApplicationType"), "User");
  EXPECT_EQ(Text(chess, "artistName"), "Knight Moves GmbH");
  EXPECT_EQ(Text(chess, "itemName"), "Chess Club");
  EXPECT_EQ(Text(chess, "AppleID"), "owner@example.com");
  EXPECT_EQ(Text(chess, "purchaseDate"), "2023-05-01T10:20:30Z");
  EXPECT_EQ(Text(chess, "CFBundleShortVersionString"), "3.2");
  EXPECT_NE(Text(chess, "softwareIcon57x57URL").find("57x57bb.png"), std::string::npos);
  EXPECT_EQ(chess["app-size"].GetInt64(), 20971520 + 1048576 * 6);
  EXPECT_EQ(chess["data-size"].GetInt64(), 409600 * 3);

  const rapidjson::Value& weather = records.at("com.example.weather");  // account only in the download info
  EXPECT_EQ(Text(weather, "AppleID"), "family@example.com");
  EXPECT_EQ(Text(weather, "purchaseDate"), "2021-11-02T09:00:00Z");

  const rapidjson::Value& runner = records.at("com.example.runner");  // no iTunesMetadata at all
  EXPECT_EQ(Text(runner, "CFBundleDisplayName"), "Trail Runner");
  EXPECT_EQ(Text(runner, "CFBundleVersion"), "103");
  EXPECT_FALSE(runner.HasMember("artistName"));
  EXPECT_EQ(runner["app-size"].GetInt64(), 20971520 + 1048576 * 9);
  EXPECT_EQ(runner["data-size"].GetInt64(), 409600 * 4);
  EXPECT_NE(Text(runner, "Path").find("/runner.app"), std::string::npos);

  std::vector<std::string> stock = InstallerListing();
  EXPECT_EQ(std::set<std::string>(stock.begin(), stock.end()), [&records] {
    std::set<std::string> ids;
    for (const auto& entry : records) ids.insert(entry.first);
    return ids;
  }()) << "ideviceinstaller and Tandrel list the same applications";
}

TEST_F(AppModuleTest, IconsArrivePerApplicationAsPngAndUnknownOnesAreLeftOut) {
  StartWith("demo");
  auto messages = RunWithIds(502, {"com.example.notebook", "org.unknown", "com.example.golf"});
  ASSERT_EQ(messages.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(messages[i].status, 2);
    EXPECT_EQ(messages[i].stage, 0);
    EXPECT_EQ(messages[i].uuid, udid);
    EXPECT_EQ(messages[i].attachment.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  }
  EXPECT_EQ(messages[0].info.value_or(""), R"({"bundle_id":"com.example.notebook"})");
  EXPECT_EQ(messages[1].info.value_or(""), R"({"bundle_id":"com.example.golf"})");
  EXPECT_EQ(messages.back().status, 1);
}

TEST_F(AppModuleTest, AGarbledIconAnswerDoesNotStopTheOtherIcons) {
  StartWith("demo");
  ASSERT_TRUE(vd.Fault(udid, "com.apple.springboardservices", {"error", "%%%not-base64%%%"}));
  auto messages = RunWithIds(502, {"com.example.notebook", "com.example.weather"});
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2].info.value_or(""), R"({"bundle_id":"com.example.weather"})");
  EXPECT_EQ(messages[messages.size() - 2].attachment.substr(1, 3), "PNG");
}

TEST_F(AppModuleTest, InstallPlacesThePackageUnderItsBundleIdentifierAndReportsProgress) {
  StartWith("demo");
  IpaRequest request;
  request.bundle_id = "com.example.app";
  std::string ipa = WriteIpa("Example.ipa", request);
  auto messages = RunWithIds(504, {ipa});
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1);
  EXPECT_TRUE(kst::PathExists(DeviceFile("/general_storage/com.example.app.ipa")));
  std::vector<int64_t> progress;
  for (const auto& message : messages) {
    rapidjson::Document info;
    int64_t value = 0;
    if (message.stage == 2 && VelJsonUtil::Parse(message.info.value_or(""), &info) &&
        VelJsonUtil::GetInt64(info, "progress", &value)) {
      progress.push_back(value);
    }
  }
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 90);
  EXPECT_EQ(messages.front().stage, 1);
  EXPECT_NE(messages.front().info.value_or("").find("57x57bb.png"), std::string::npos);
  auto records = ListApps();
  ASSERT_EQ(records.count("com.example.app"), 1u);
  EXPECT_EQ(Text(records.at("com.example.app"), "itemName"), "Sample");
}

TEST_F(AppModuleTest, HostilePackagesAreSkippedWithoutEscapingTheStagingFolder) {
  StartWith("demo");
  std::string not_zip = vd.folder() + "/text.ipa";
  ASSERT_TRUE(kst::WriteWholeFile(not_zip, "not a zip archive at all"));
  IpaRequest without;
  without.bundle_id = "org.no.metadata";
  without.with_metadata = false;
  IpaRequest escaping;
  escaping.bundle_id = "org.escape";
  escaping.metadata_bundle_id = "../x";
  auto messages = RunWithIds(504, {not_zip, WriteIpa("without.ipa", without), WriteIpa("escape.ipa", escaping),
                                   vd.folder() + "/missing.ipa"});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.back().status, 1);
  EXPECT_EQ(messages.back().code, 0);
  EXPECT_FALSE(kst::PathExists(DeviceFile("/x.ipa")));
  EXPECT_FALSE(kst::PathExists(profile + "/x.ipa"));
  EXPECT_EQ(ListApps().size(), 25u);
}

TEST_F(AppModuleTest, UninstallRemovesApplicationsAndReportsTheDevicesErrors) {
  StartWith("demo");
  std::string hostile = "com.example.golf</string><key>Command</key><string>Browse";
  auto messages = RunWithIds(505, {"com.example.chess", hostile, std::string(5000, 'a'), "com.example.sudoku"});
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1);
  int errors = 0;
  for (const auto& message : messages) errors += message.stage == 3 ? 1 : 0;
  EXPECT_EQ(errors, 1) << "the escaped identifier names no application";
  auto records = ListApps();
  EXPECT_EQ(records.size(), 23u);
  EXPECT_EQ(records.count("com.example.chess"), 0u);
  EXPECT_EQ(records.count("com.example.golf"), 1u);
}

TEST_F(AppModuleTest, ArchiveOnACurrentSystemEndsWithTheDevicesRefusal) {
  StartWith("demo");
  auto messages = RunWithIds(506, {"com.example.chess"});
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.back().status, 1);
  EXPECT_EQ(messages[messages.size() - 2].stage, 3);
  EXPECT_NE(messages[messages.size() - 2].info.value_or("").find("UnknownCommand"), std::string::npos);
  EXPECT_EQ(ListApps().count("com.example.chess"), 1u);
}

TEST_F(AppModuleTest, AnInstallerThatNeverSaysCompleteEndsWhenTheDeviceCloses) {
  StartWith("demo");
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobile.installation_proxy", {"error", "InstallProhibited"}));
  auto messages = RunWithIds(505, {"com.example.chess"});
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1);
  EXPECT_EQ(ListApps().count("com.example.chess"), 1u);
}

TEST_F(AppModuleTest, ParametersThatAreNotAnArrayAreRefused) {
  StartWith("demo");
  auto messages = Run(505, DeviceJson(), Compressed(R"({"id":"com.example.chess"})"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.back().code, 8);
}

}  // namespace
