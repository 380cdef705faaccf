// Devices as the front-end sees them: Tandrel started against the simulated device server.
#include <gtest/gtest.h>

#include <rapidjson/document.h>


#include "tandrel_harness.h"
#include "vdevice_fixture.h"

namespace {

using namespace std::chrono_literals;

class DeviceEventsTest : public ::testing::Test {
 protected:
  // Serves the profiles and starts Tandrel against them.
  void Serve(const std::vector<std::string>& kinds) {
    std::vector<std::string> profiles;
    for (const std::string& kind : kinds) profiles.push_back(vd.MakeProfile(kind));
    ASSERT_TRUE(vd.Start(profiles));
    harness::TandrelOptions options;
    options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
    tandrel = std::make_unique<harness::Tandrel>(options);
    ASSERT_TRUE(tandrel->Start());
  }
  // The next device message of `command` for the device `code` (any code when 0).
  std::optional<frontend::Message> Wait(uint32_t command, std::chrono::milliseconds timeout = 20s) {
    return tandrel->Link().WaitFor(command, timeout);
  }
  // The next device error report with `code`; reports with other codes (a first pairing) are skipped.
  std::optional<frontend::Message> WaitError(int code, std::chrono::milliseconds timeout = 30s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      auto error = Wait(12, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
      if (!error) break;
      if (Info(*error)["error_code"].GetInt() == code) return error;
    }
    return std::nullopt;
  }
  static rapidjson::Document Info(const frontend::Message& message) {
    rapidjson::Document info;
    info.Parse(message.info ? message.info->c_str() : "null");
    return info;
  }
  vdevice_test::VdeviceFixture vd;
  std::unique_ptr<harness::Tandrel> tandrel;
};

TEST_F(DeviceEventsTest, TrustedDeviceArrivesBecomesReadyAndDeparts) {
  Serve({"demo"});
  auto monitor = Wait(9);
  ASSERT_TRUE(monitor);
  EXPECT_EQ(*monitor->info, R"({"error_code":0})");
  auto arrival = Wait(11);
  ASSERT_TRUE(arrival);
  EXPECT_EQ(arrival->status, 1);
  auto ready = Wait(1, 30s);
  ASSERT_TRUE(ready) << vd.ServerLog();
  EXPECT_EQ(ready->status, 2);
  EXPECT_EQ(ready->code, arrival->code);
  std::string udid = vdevice_test::VdeviceFixture::ProfileUdid(vd.folder() + "/demo");
  EXPECT_EQ(ready->uuid, udid);
  // Exactly these keys in this order; numbers unquoted, texts quoted.
  ASSERT_TRUE(ready->info);
  rapidjson::Document info = Info(*ready);
  std::vector<std::string> keys;
  for (const auto& member : info.GetObject()) keys.emplace_back(member.name.GetString());
  EXPECT_EQ(keys, (std::vector<std::string>{"Model", "FirmVersion", "Type", "Data_FreeSize", "Data_PhysicalSize", "Pid",
                                            "StartType", "SerialNumber"}))
      << *ready->info;
  for (const char* text : {"Model", "FirmVersion", "Type", "SerialNumber"}) EXPECT_TRUE(info[text].IsString()) << text;
  for (const char* number : {"Data_FreeSize", "Data_PhysicalSize", "Pid", "StartType"}) {
    EXPECT_TRUE(info[number].IsInt64()) << number;
  }
  EXPECT_STREQ(info["Type"].GetString(), "iPhone");
  EXPECT_EQ(std::string(info["FirmVersion"].GetString()).rfind("16.", 0), 0u);
  EXPECT_EQ(info["StartType"].GetInt(), 0);
  EXPECT_EQ(info["Pid"].GetInt64(), tandrel->Pid());

  ASSERT_TRUE(vd.Detach(udid));
  auto departed = Wait(8);
  ASSERT_TRUE(departed);
  EXPECT_EQ(departed->code, arrival->code);
  EXPECT_EQ(departed->uuid, udid);
  EXPECT_EQ(*departed->info, "{\"PID\":" + std::to_string(tandrel->Pid()) + "}");
}

TEST_F(DeviceEventsTest, UntrustedDeviceIsAskedToPairOnceAndReportedWith25UntilTrusted) {
  Serve({"untrusted"});
  std::string udid = vdevice_test::VdeviceFixture::ProfileUdid(vd.folder() + "/untrusted");
  auto error = Wait(12);
  ASSERT_TRUE(error);
  EXPECT_EQ(Info(*error)["error_code"].GetInt(), 25);
  std::this_thread::sleep_for(500ms);
  std::string log = vd.ServerLog();
  size_t pairs = 0;
  for (size_t at = log.find("Pair answered"); at != std::string::npos; at = log.find("Pair answered", at + 1)) ++pairs;
  EXPECT_EQ(pairs, 1u) << log;

  // The device never became ready: its departure is the command-8 message with its number.
  ASSERT_TRUE(vd.Detach(udid));
  auto departed = Wait(8);
  ASSERT_TRUE(departed);
  EXPECT_EQ(departed->code, error->code);
  EXPECT_EQ(departed->uuid, "");
}

TEST_F(DeviceEventsTest, UntrustedDeviceBecomesReadyWhenTrustedWithoutBeingPluggedInAgain) {
  Serve({"untrusted"});
  std::string udid = vdevice_test::VdeviceFixture::ProfileUdid(vd.folder() + "/untrusted");
  auto arrival = Wait(11);
  ASSERT_TRUE(arrival);
  auto error = WaitError(25);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, arrival->code);
  ASSERT_TRUE(vd.Trust(udid, "on"));  // the user taps Trust
  auto ready = Wait(1, 30s);
  ASSERT_TRUE(ready) << vd.ServerLog();
  EXPECT_EQ(ready->code, arrival->code);  // the same attachment
  EXPECT_EQ(ready->uuid, udid);
  EXPECT_FALSE(Wait(11, 10ms));
}

TEST_F(DeviceEventsTest, OldIphoneIsRefusedButAnIpadOnTheSameVersionIsNot) {
  Serve({"iphone-ios4", "ipad-ios4"});
  auto refused = WaitError(3);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->uuid, vdevice_test::VdeviceFixture::ProfileUdid(vd.folder() + "/iphone-ios4"));
  auto ready = Wait(1, 30s);
  ASSERT_TRUE(ready) << vd.ServerLog();
  EXPECT_EQ(ready->uuid, vdevice_test::VdeviceFixture::ProfileUdid(vd.folder() + "/ipad-ios4"));
  EXPECT_NE(ready->info->find("\"Type\":\"iPad\""), std::string::npos);
}

TEST_F(DeviceEventsTest, PairedDeviceThatComesBackLockedIsReportedWith48) {
  // A locked phone refuses pairing too, so it is paired first, then locked and plugged in again.
  Serve({"demo"});
  std::string profile = vd.folder() + "/demo";
  std::string udid = vdevice_test::VdeviceFixture::ProfileUdid(profile);
  ASSERT_TRUE(Wait(1, 30s));
  ASSERT_TRUE(vd.Detach(udid));
  ASSERT_TRUE(Wait(8));
  ASSERT_TRUE(vdevice_test::VdeviceFixture::EditDeviceJson(
      profile, [](rapidjson::Document& json) { json["locked"].SetBool(true); }));
  ASSERT_TRUE(vd.Attach(profile));
  auto error = WaitError(48);
  ASSERT_TRUE(error) << vd.ServerLog();
}

TEST_F(DeviceEventsTest, NetworkDeviceProducesNothing) {
  Serve({"network"});
  ASSERT_TRUE(Wait(9));
  EXPECT_FALSE(Wait(11, 1500ms));
  EXPECT_FALSE(Wait(12, 10ms));
}

TEST_F(DeviceEventsTest, QuietStartLeavesOutArrivalAndErrorReports) {
  auto profile = vd.MakeProfile("untrusted");
  ASSERT_TRUE(vd.Start({profile, vd.MakeProfile("demo")}));
  harness::TandrelOptions options;
  options.type = 1;
  options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
  tandrel = std::make_unique<harness::Tandrel>(options);
  ASSERT_TRUE(tandrel->Start());
  auto ready = Wait(1, 30s);
  ASSERT_TRUE(ready);
  EXPECT_NE(ready->info->find("\"StartType\":1"), std::string::npos);
  EXPECT_FALSE(Wait(11, 10ms));
  EXPECT_FALSE(Wait(12, 1000ms));
}

TEST(DeviceMonitorStartTest, WithoutADeviceServiceTheStartReportCarries10AndCommandsStillWork) {
  harness::TandrelOptions options;
  options.environment["USBMUXD_SOCKET_ADDRESS"] = "UNIX:/nonexistent/usbmuxd.sock";
  harness::Tandrel tandrel(options);
  ASSERT_TRUE(tandrel.Start());
  auto report = tandrel.Link().WaitFor(9, 5s);
  ASSERT_TRUE(report);
  EXPECT_EQ(*report->info, R"({"error_code":10})");
  auto replies = tandrel.Run(600, 3, R"({"info":{"task_id":"1"}})");
  ASSERT_EQ(replies.size(), 1u);
}

TEST(DeviceMonitorStartTest, WithoutTheFrameworkTheStartReportCarries9) {
  harness::TandrelOptions options;
  options.environment["TANDREL_REGISTRY"] = "/nonexistent/registry.json";
  harness::Tandrel tandrel(options);
  ASSERT_TRUE(tandrel.Start());
  auto report = tandrel.Link().WaitFor(9, 5s);
  ASSERT_TRUE(report);
  EXPECT_EQ(*report->info, R"({"error_code":9})");
}

}  // namespace
