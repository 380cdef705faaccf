// Databases out of a fresh backup (1608) and backup encryption (1604, 1605) against the
// simulated iPhone.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "module_fixture.h"
#include "platform/vel_json_util.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kMessagesDb = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr const char* kAddressBookDb = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
constexpr const char* kNotesDb = "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c";
constexpr const char* kNoteStoreDb = "4f98687d8ab0d6d1a371110e6b7300f6e465bef2";

class BackupExtractTest : public ModuleTest {
 protected:
  std::vector<frontend::Message> Extract(const std::string& types) {
    return Run(1608, DeviceJson(R"("info":{"types":[)" + types + "]}"));
  }
  // The names of the files the extraction folders hold, and how many folders there are.
  std::set<std::string> ExtractedNames(size_t* folders) const {
    std::set<std::string> names;
    *folders = 0;
    const fs::path root = fs::path(tandrel->WorkFolder()) / "Backup0";
    if (!fs::is_directory(root)) return names;
    for (const auto& folder : fs::directory_iterator(root)) {
      ++*folders;
      for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
        if (entry.is_regular_file()) names.insert(entry.path().filename().string());
      }
    }
    return names;
  }
};

TEST_F(BackupExtractTest, ExtractionEndsAsSoonAsTheWantedDatabasesAreIn) {
  StartWith("demo");
  auto contacts = Extract("1");
  ASSERT_FALSE(contacts.empty());
  EXPECT_EQ(contacts.back().code, 0) << vd.ServerLog();
  size_t folders = 0;
  std::set<std::string> names = ExtractedNames(&folders);
  EXPECT_EQ(folders, 1u);
  EXPECT_TRUE(names.count(kAddressBookDb));
  EXPECT_FALSE(names.count("Status.plist"));  // the rest of the backup was not waited for

  auto three = Extract("0,2,2,9");
  EXPECT_EQ(three.back().code, 0);
  // The messages module, an observer of the extraction, hands the front-end the database's path.
  std::string sms_path;
  for (const auto& message : three) {
    rapidjson::Document info;
    if (message.status == 2 && message.info && VelJsonUtil::Parse(*message.info, &info) && info.IsObject() &&
        info.HasMember("sms_db_path")) {
      sms_path = info["sms_db_path"].GetString();
    }
  }
  EXPECT_EQ(fs::path(sms_path).filename().string(), kMessagesDb);
  EXPECT_TRUE(fs::is_regular_file(sms_path));
  names = ExtractedNames(&folders);
  EXPECT_EQ(folders, 2u);
  for (const char* name : {kMessagesDb, kNotesDb, kNoteStoreDb}) EXPECT_TRUE(names.count(name)) << name;
}

TEST_F(BackupExtractTest, ABackupWithoutTheDatabaseEndsWith46AndAStopWith6) {
  StartWith("demo", [](const std::string& profile) {
    fs::remove_all(fs::path(profile) / "mobilebackup2" / "domains" / "HomeDomain" / "Library" / "SMS");
  });
  EXPECT_EQ(Extract("0").back().code, 46) << vd.ServerLog();

  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilebackup2", {"silence", "600000"}));
  const uint64_t task = NextTask();
  ASSERT_TRUE(tandrel->Link().Send(1608, task, DeviceJson(R"("info":{"types":[1]})")));
  std::this_thread::sleep_for(300ms);  // let the extraction reach the silent device
  EXPECT_EQ(Run(600, R"({"info":{"task_id":")" + std::to_string(task) + R"("}})").back().code, 0);
  auto stopped = tandrel->Link().CollectUntilFinal(task, 30s);
  ASSERT_FALSE(stopped.empty());
  EXPECT_EQ(stopped.back().code, 6);
  size_t folders = 0;
  ExtractedNames(&folders);
  EXPECT_EQ(folders, 1u);  // the completed backup of the first command; no stray folder of the stopped one
  EXPECT_EQ(Run(1608, DeviceJson()).back().code, 21);
}

TEST_F(BackupExtractTest, EncryptionIsTurnedOnThroughIdevicebackup2) {
  StartWith("demo");
  EXPECT_EQ(Run(1604, DeviceJson()).back().code, 1);
  EXPECT_EQ(Run(1605, DeviceJson(), Compressed(R"({"password":"s3cret pass"})")).back().code, 0) << vd.ServerLog();
  EXPECT_EQ(Run(1604, DeviceJson()).back().code, 0);
  EXPECT_EQ(Run(1605, DeviceJson()).back().code, 8);
}

}  // namespace
