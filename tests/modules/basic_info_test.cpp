// Device information through Tandrel: the two data replies, lookups, rename and failures.
#include <gtest/gtest.h>

#include <algorithm>

#include "module_fixture.h"
#include "platform/vel_json_util.h"

namespace {

const std::vector<std::string> kFirstReplyOrder = {
    "RegionInfo", "DeviceName", "DeviceClass", "ProductType", "ProductVersion", "SerialNumber", "UniqueDeviceID",
    "ModelNumber", "BuildVersion", "HardwareModel", "DeviceEnclosureColor", "CPUArchitecture", "WiFiAddress",
    "BluetoothAddress", "PartitionType", "FirmwareVersion", "ActivationState", "ActivationStateAcknowledged",
    "BasebandVersion", "BasebandBootloaderVersion", "BasebandChipId", "BasebandGoldCertId",
    "IntegratedCircuitCardIdentity", "InternationalMobileEquipmentIdentity", "InternationalMobileSubscriberIdentity",
    "MLBSerialNumber", "MobileSubscriberCountryCode", "MobileSubscriberNetworkCode", "MobileEquipmentIdentifier",
    "PasswordProtected", "PhoneNumber", "ProductionSOC", "ProtocolVersion", "SIMStatus", "SupportedDeviceFamilies",
    "TimeIntervalSince1970", "TimeZone", "TimeZoneOffsetFromUTC", "UniqueChipID", "Uses24HourClock",
    "BatteryIsCharging", "Keyboard", "BatteryCurrentCapacity", "TotalDiskCapacity", "TotalSystemAvailable",
    "TotalSystemCapacity", "IsJailbreak"};

const std::vector<std::string> kStorageOrder = {
    "Application_PhysicalSize", "Application_Count", "Photo_PhysicalSize", "Photo_Count",
    "CameraRoll_PhysicalSize", "CameraRoll_Count", "Movie_PhysicalSize", "Movie_Count", "Book_PhysicalSize",
    "Book_Count", "Music_PhysicalSize", "Music_Count", "Ringtone_PhysicalSize", "Ringtone_Count", "Data_FreeSize",
    "Data_PhysicalSize", "Data_Others_PhysicalSize"};

void RemoveLockdownValue(const std::string& profile, const char* key) {
  ASSERT_TRUE(vdevice_test::VdeviceFixture::EditDeviceJson(
      profile, [key](rapidjson::Document& json) { json["lockdown"]["default"].RemoveMember(key); }));
}

// An atc conversation that sends `messages` (JSON objects, "Command" first) after the host's request.
void ScriptAtc(const std::string& profile, const std::vector<std::string>& messages) {
  ASSERT_TRUE(vdevice_test::VdeviceFixture::EditAtcScript(profile, [&messages](rapidjson::Document& script) {
    std::string text = R"({"steps":[{"expect":"PowerAssertion"})";
    for (const std::string& message : messages) text += R"(,{"send":)" + message + "}";
    text += R"(,{"end":"empty"}]})";
    script.Parse(text.c_str());
  }));
}

class BasicInfoTest : public ModuleTest {
 protected:
  // The first and second data replies of command 300, after checking the reply's shape.
  std::pair<rapidjson::Document, rapidjson::Document> BasicInfo() {
    auto messages = Run(300, DeviceJson());
    EXPECT_EQ(messages.size(), 3u);
    if (messages.size() != 3) return {};
    EXPECT_EQ(messages[2].status, 1);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(messages[i].status, 2);
      EXPECT_EQ(messages[i].uuid, udid);
      EXPECT_TRUE(messages[i].attachment_inflated);
    }
    return {AttachmentJson(messages[0]), AttachmentJson(messages[1])};
  }
};

TEST_F(BasicInfoTest, FirstReplyKeepsItsOrderWithoutTheValuesTheDeviceLacks) {
  StartWith("demo", [](const std::string& profile) { RemoveLockdownValue(profile, "ModelNumber"); });
  auto [first, second] = BasicInfo();
  std::vector<std::string> keys = Keys(first);
  std::vector<std::string> expected;
  std::copy_if(kFirstReplyOrder.begin(), kFirstReplyOrder.end(), std::back_inserter(expected),
               [&reply = first](const std::string& key) { return reply.HasMember(key.c_str()); });
  EXPECT_EQ(keys, expected);
  EXPECT_FALSE(first.HasMember("ModelNumber"));
  EXPECT_GT(keys.size(), 40u);
  EXPECT_TRUE(first["ActivationStateAcknowledged"].IsBool());
  EXPECT_TRUE(first["BasebandChipId"].IsInt64());
  EXPECT_TRUE(first["TotalDiskCapacity"].IsInt64());
  ASSERT_TRUE(first["SupportedDeviceFamilies"].IsArray());
  EXPECT_TRUE(first["SupportedDeviceFamilies"][0].IsInt());
  EXPECT_STREQ(first["UniqueDeviceID"].GetString(), udid.c_str());
  EXPECT_FALSE(first["IsJailbreak"].GetBool());
  // The demo's scripted metrics: the known categories in order, then the further ones.
  std::vector<std::string> storage_keys = Keys(second);
  ASSERT_GE(storage_keys.size(), kStorageOrder.size() + 1);
  EXPECT_EQ(storage_keys[0], "CycleCount");
  EXPECT_EQ(std::vector<std::string>(storage_keys.begin() + 1, storage_keys.begin() + 1 + kStorageOrder.size()),
            kStorageOrder);
  int64_t known = 0;
  for (const std::string& key : kStorageOrder) {
    if (key.find("_PhysicalSize") != std::string::npos && key.rfind("Data_", 0) != 0) known += second[key.c_str()].GetInt64();
  }
  EXPECT_EQ(second["Data_Others_PhysicalSize"].GetInt64(),
            second["Data_PhysicalSize"].GetInt64() - second["Data_FreeSize"].GetInt64() - known);
}

TEST_F(BasicInfoTest, JailbrokenDeviceIsReportedAsSuch) {
  StartWith("jailbroken");
  auto [first, second] = BasicInfo();
  EXPECT_TRUE(first["IsJailbreak"].GetBool());
}

TEST_F(BasicInfoTest, PingFirstLeavesEveryStorageFigureAtZero) {
  StartWith("demo", [](const std::string& profile) {
    ScriptAtc(profile, {R"({"Command":"Ping","Params":{}})",
                        R"({"Command":"AssetMetrics","Params":{"_PhysicalSize":100,"_FreeSize":50}})"});
  });
  auto [first, second] = BasicInfo();
  for (const std::string& key : kStorageOrder) EXPECT_EQ(second[key.c_str()].GetInt64(), 0) << key;
  EXPECT_EQ(second["CycleCount"].GetInt64(), 312);
}

TEST_F(BasicInfoTest, FurtherCategoriesFollowInTheirOrderAndEmptyOnesAreLeftOut) {
  StartWith("demo", [](const std::string& profile) {
    ScriptAtc(profile, {R"({"Command":"Hello","Params":{}})",
                        R"({"Command":"AssetMetrics","Params":{"_PhysicalSize":1000,"_FreeSize":300,)"
                        R"("Photo":{"_PhysicalSize":100,"_Count":3,"CameraRoll":{"_PhysicalSize":50,"_Count":2},)"
                        R"("_PurgeableSize":7},"Podcast":{"_PhysicalSize":10,"_Count":2},)"
                        R"("Empty":{"_PhysicalSize":40,"_Count":0}}})"});
  });
  auto [first, second] = BasicInfo();
  std::vector<std::string> keys = Keys(second);
  ASSERT_EQ(keys.size(), 1 + kStorageOrder.size() + 2);
  EXPECT_EQ(keys[keys.size() - 2], "Podcast_Count");
  EXPECT_EQ(keys.back(), "Podcast_PhysicalSize");
  EXPECT_EQ(second["Podcast_Count"].GetInt64(), 2);
  EXPECT_EQ(second["Podcast_PhysicalSize"].GetInt64(), 10);
  EXPECT_EQ(second["Photo_PhysicalSize"].GetInt64(), 150);
  EXPECT_EQ(second["Photo_Count"].GetInt64(), 5);
  EXPECT_EQ(second["Data_Others_PhysicalSize"].GetInt64(), 1000 - 300 - 150);
}

TEST_F(BasicInfoTest, DeviceIsFoundByCodeWhenTheIdentifierMatchesNothing) {
  StartWith("demo");
  auto by_code = Run(15, R"({"uuid":"no-such-device","code":)" + std::to_string(code) + "}");
  ASSERT_EQ(by_code.size(), 1u);
  EXPECT_EQ(by_code[0].code, 0);
  EXPECT_EQ(by_code[0].uuid, "no-such-device");
  auto neither = Run(300, R"({"uuid":"no-such-device","code":1})");
  ASSERT_EQ(neither.size(), 1u);
  EXPECT_EQ(neither[0].code, 7);
  EXPECT_EQ(neither[0].status, 6);
  auto broken = Run(300, "{broken");
  ASSERT_EQ(broken.size(), 1u);
  EXPECT_EQ(broken[0].code, 21);
  EXPECT_EQ(broken[0].uuid, "");
  uint64_t task = NextTask();
  ASSERT_TRUE(tandrel->Link().Send(300, task, DeviceJson(), "", 2));
  auto other_format = tandrel->Link().CollectUntilFinal(task, std::chrono::seconds(20));
  ASSERT_EQ(other_format.size(), 1u);  // no data replies for another format number
  EXPECT_EQ(other_format[0].code, 0);
}

TEST_F(BasicInfoTest, RenameChangesTheNameAndARefusalGives31) {
  StartWith("demo");
  auto renamed = Run(303, DeviceJson(), Compressed(R"({"name":"Kitchen Phone \u00e9"})"));
  ASSERT_EQ(renamed.size(), 1u);
  EXPECT_EQ(renamed[0].code, 0);
  auto tool = vd.RunTool("ideviceinfo", {"-k", "DeviceName"});
  EXPECT_EQ(tool.out, "Kitchen Phone \xC3\xA9\n");
  auto no_parameters = Run(303, DeviceJson());
  ASSERT_EQ(no_parameters.size(), 1u);
  EXPECT_EQ(no_parameters[0].code, 8);
}

TEST_F(BasicInfoTest, RenameRefusedByTheDeviceGives31) {
  StartWith("demo", [](const std::string& profile) {
    ASSERT_TRUE(vdevice_test::VdeviceFixture::EditDeviceJson(profile, [](rapidjson::Document& json) {
      rapidjson::Value refused(rapidjson::kArrayType);
      refused.PushBack("DeviceName", json.GetAllocator());
      json.RemoveMember("refused_set_values");
      json.AddMember("refused_set_values", refused, json.GetAllocator());
    }));
  });
  auto refused = Run(303, DeviceJson(), Compressed(R"({"name":"Nope"})"));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].code, 31);
  EXPECT_EQ(refused[0].status, 6);
}

TEST_F(BasicInfoTest, NoAfcServiceGives12) {
  StartWith("demo");
  ASSERT_TRUE(vd.Fault(udid, "com.apple.afc", {"refuse", "always"}));
  auto messages = Run(300, DeviceJson());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].code, 12);
}

}  // namespace
