// The stock libimobiledevice tools accept the simulated iPhone: listing, reading values,
// renaming, pairing in every trust state, and several devices at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

constexpr int kToolTimeoutMs = 30000;

class StockToolsTest : public ::testing::Test {
 protected:
  ToolResult Run(const std::string& tool, const std::vector<std::string>& args) {
    ToolResult result = vd_.RunTool(tool, args, kToolTimeoutMs);
    EXPECT_FALSE(result.timed_out) << tool << " hung\n" << vd_.ServerLog();
    return result;
  }

  // Serves generated profiles of these kinds and returns their UDIDs in the same order.
  std::vector<std::string> Serve(const std::vector<std::string>& kinds) {
    std::vector<std::string> profiles, udids;
    for (const std::string& kind : kinds) {
      profiles.push_back(vd_.MakeProfile(kind));
      udids.push_back(VdeviceFixture::ProfileUdid(profiles.back()));
    }
    EXPECT_TRUE(vd_.Start(profiles)) << vd_.ServerLog();
    profiles_ = profiles;
    return udids;
  }

  VdeviceFixture vd_;
  std::vector<std::string> profiles_;
};

TEST_F(StockToolsTest, IdeviceIdListsUsbDevicesOnlyAndNetworkOnRequest) {
  std::vector<std::string> udids = Serve({"demo", "network"});
  ToolResult usb = Run("idevice_id", {"-l"});
  ASSERT_EQ(usb.exit_code, 0) << usb.err;
  EXPECT_EQ(usb.out, udids[0] + "\n");
  ToolResult network = Run("idevice_id", {"-n"});
  ASSERT_EQ(network.exit_code, 0) << network.err;
  EXPECT_EQ(network.out, udids[1] + "\n");
}

TEST_F(StockToolsTest, NetworkDevicesAreReachedOverTcpLikeWifiDevices) {
  std::vector<std::string> udids = Serve({"network"});
  ToolResult version = Run("ideviceinfo", {"-n", "-u", udids[0], "-k", "ProductVersion"});
  EXPECT_EQ(version.out, "16.6\n") << version.err << vd_.ServerLog();
  ToolResult battery = Run("idevicediagnostics", {"-n", "ioregentry", "IOPMPowerSource"});
  EXPECT_NE(battery.out.find("<key>CycleCount</key>"), std::string::npos) << battery.err;
  EXPECT_NE(vd_.ServerLog().find("is reachable over TCP at 127."), std::string::npos);
  EXPECT_NE(Run("ideviceinfo", {"-u", udids[0], "-k", "ProductVersion"}).exit_code, 0);
}

TEST_F(StockToolsTest, IdeviceinfoReadsTheDefaultDomainOtherDomainsAndSingleKeys) {
  std::vector<std::string> udids = Serve({"demo"});
  ToolResult all = Run("ideviceinfo", {"-u", udids[0]});
  ASSERT_EQ(all.exit_code, 0) << all.err << vd_.ServerLog();
  for (const std::string& line : std::vector<std::string>{"DeviceClass: iPhone", "ProductType: iPhone14,5", "ProductVersion: 16.6",
                                 "UniqueChipID: 7378958221598750", "ActivationStateAcknowledged: true",
                                 "UniqueDeviceID: " + udids[0], "PasswordProtected: false"}) {
    EXPECT_NE(all.out.find(line + "\n"), std::string::npos) << line;
  }
  ToolResult battery = Run("ideviceinfo", {"-q", "com.apple.mobile.battery"});
  ASSERT_EQ(battery.exit_code, 0) << battery.err;
  EXPECT_NE(battery.out.find("BatteryCurrentCapacity: 87\n"), std::string::npos) << battery.out;
  EXPECT_NE(battery.out.find("BatteryIsCharging: false\n"), std::string::npos) << battery.out;
  ToolResult version = Run("ideviceinfo", {"-k", "ProductVersion"});
  EXPECT_EQ(version.out, "16.6\n");
  ToolResult missing = Run("ideviceinfo", {"-k", "NoSuchKey"});
  EXPECT_EQ(missing.out, "");
}

TEST_F(StockToolsTest, IdevicenameReadsAndRenames) {
  Serve({"demo"});
  EXPECT_EQ(Run("idevicename", {}).out, "Demo iPhone\n");
  ToolResult rename = Run("idevicename", {"Kitchen Phone"});
  EXPECT_EQ(rename.exit_code, 0) << rename.err;
  EXPECT_EQ(Run("idevicename", {}).out, "Kitchen Phone\n");
  EXPECT_EQ(Run("ideviceinfo", {"-k", "DeviceName"}).out, "Kitchen Phone\n");
}

TEST_F(StockToolsTest, RenameRefusedByTheProfileFailsAndKeepsTheName) {
  std::string demo = vd_.MakeProfile("demo");
  ASSERT_TRUE(VdeviceFixture::EditDeviceJson(demo, [](rapidjson::Document& json) {
    json["refused_set_values"].PushBack("DeviceName", json.GetAllocator());
  }));
  ASSERT_TRUE(vd_.Start({demo}));
  ToolResult rename = Run("idevicename", {"Refused"});
  EXPECT_NE(rename.exit_code, 0);
  EXPECT_EQ(Run("idevicename", {}).out, "Demo iPhone\n");
  EXPECT_NE(vd_.ServerLog().find("SetValue of DeviceName refused"), std::string::npos);
}

TEST_F(StockToolsTest, PairingWaitsForTrustThenValidatesAndUnpairs) {
  std::vector<std::string> udids = Serve({"untrusted"});
  ToolResult pending = Run("idevicepair", {"pair"});
  EXPECT_NE(pending.exit_code, 0);
  EXPECT_NE((pending.out + pending.err).find("trust dialog"), std::string::npos) << pending.out << pending.err;
  EXPECT_NE(Run("idevicepair", {"validate"}).exit_code, 0);

  ASSERT_TRUE(vd_.Trust(udids[0], "on"));
  // Trusting completes the request that waited for it, as usbmuxd does: no second pair needed.
  // The device finishes that pairing on its own thread, so give it a moment on a busy machine.
  ToolResult completed = Run("idevicepair", {"validate"});
  for (int attempt = 0; attempt < 50 && completed.exit_code != 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    completed = Run("idevicepair", {"validate"});
  }
  EXPECT_EQ(completed.exit_code, 0) << completed.out << completed.err << vd_.ServerLog();
  EXPECT_EQ(Run("ideviceinfo", {"-k", "SerialNumber"}).exit_code, 0);
  ToolResult paired = Run("idevicepair", {"pair"});
  EXPECT_EQ(paired.exit_code, 0) << paired.out << paired.err;
  EXPECT_NE(paired.out.find("SUCCESS: Paired"), std::string::npos);
  ToolResult valid = Run("idevicepair", {"validate"});
  EXPECT_EQ(valid.exit_code, 0) << valid.out;
  EXPECT_EQ(Run("ideviceinfo", {"-k", "SerialNumber"}).exit_code, 0);

  // Unpairing forgets this host on the device: one pairing fewer. (How many host identities the
  // trusted request and the second pair left depends on whether the tool reused the saved record.)
  auto pairings = [this] {
    std::string listing;
    EXPECT_EQ(vd_.Ctl({"list"}, &listing), 0);
    size_t at = listing.find("pairings=");
    return at == std::string::npos ? -1 : std::atoi(listing.c_str() + at + 9);
  };
  int before = pairings();
  ToolResult unpaired = Run("idevicepair", {"unpair"});
  EXPECT_EQ(unpaired.exit_code, 0) << unpaired.out;
  EXPECT_GE(before, 1);
  EXPECT_EQ(pairings(), before - 1);

  ASSERT_TRUE(vd_.Trust(udids[0], "deny"));
  ToolResult denied = Run("idevicepair", {"pair"});
  EXPECT_NE(denied.exit_code, 0);
  EXPECT_NE((denied.out + denied.err).find("denied"), std::string::npos) << denied.out << denied.err;
}

TEST_F(StockToolsTest, TurningTrustOffInvalidatesAnExistingPairing) {
  std::vector<std::string> udids = Serve({"demo"});
  ASSERT_EQ(Run("idevicepair", {"pair"}).exit_code, 0);
  ASSERT_TRUE(vd_.Trust(udids[0], "off"));
  EXPECT_NE(Run("idevicepair", {"validate"}).exit_code, 0);
  EXPECT_NE(Run("ideviceinfo", {"-k", "SerialNumber"}).exit_code, 0);
}

TEST_F(StockToolsTest, OldIos4DevicesPassTheValidatePairHandshake) {
  std::vector<std::string> udids = Serve({"iphone-ios4", "ipad-ios4"});
  ToolResult iphone = Run("ideviceinfo", {"-u", udids[0], "-k", "ProductType"});
  EXPECT_EQ(iphone.out, "iPhone3,1\n") << iphone.err << vd_.ServerLog();
  ToolResult ipad = Run("ideviceinfo", {"-u", udids[1], "-k", "DeviceClass"});
  EXPECT_EQ(ipad.out, "iPad\n") << ipad.err;
  EXPECT_NE(vd_.ServerLog().find("lockdown: ValidatePair"), std::string::npos);
}

TEST_F(StockToolsTest, TwoDevicesAreListedAndIndependent) {
  std::vector<std::string> udids = Serve({"demo", "jailbroken"});
  ToolResult list = Run("idevice_id", {"-l"});
  EXPECT_NE(list.out.find(udids[0]), std::string::npos);
  EXPECT_NE(list.out.find(udids[1]), std::string::npos);
  ASSERT_EQ(Run("idevicename", {"-u", udids[1], "Second"}).exit_code, 0);
  EXPECT_EQ(Run("idevicename", {"-u", udids[0]}).out, "Demo iPhone\n");
  EXPECT_EQ(Run("idevicename", {"-u", udids[1]}).out, "Second\n");
  ASSERT_TRUE(vd_.Lock(udids[0], true));
  EXPECT_NE(Run("idevicediagnostics", {"-u", udids[0], "ioregentry", "IOPMPowerSource"}).exit_code, 0);
  EXPECT_EQ(Run("idevicediagnostics", {"-u", udids[1], "ioregentry", "IOPMPowerSource"}).exit_code, 0);
}

TEST_F(StockToolsTest, DiagnosticsReportTheBatteryEntry) {
  Serve({"demo"});
  ToolResult entry = Run("idevicediagnostics", {"ioregentry", "IOPMPowerSource"});
  ASSERT_EQ(entry.exit_code, 0) << entry.err;
  EXPECT_NE(entry.out.find("<key>CycleCount</key>"), std::string::npos) << entry.out;
}

TEST_F(StockToolsTest, ServerStopsCleanlyOnTermination) {
  Serve({"demo"});
  ASSERT_EQ(Run("ideviceinfo", {"-k", "ProductVersion"}).exit_code, 0);
  EXPECT_EQ(vd_.Stop(), 0);
  EXPECT_NE(Run("idevice_id", {"-l"}).exit_code, 0);
}

}  // namespace
}  // namespace vdevice_test
