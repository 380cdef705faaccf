// The control side: fault syntax, the control channel's messages and address, and the commands
// applied to a registry of attached devices (including the events Listen clients get).
#include <gtest/gtest.h>

#include "control_channel.h"
#include "control_commands.h"
#include "device_registry.h"
#include "fault_table.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "profile_generator.h"

namespace vdevice {
namespace {

TEST(FaultSyntax, AcceptsEachKindWithOptionalCount) {
  Fault fault;
  std::string error;
  ASSERT_TRUE(ParseFault({"drop", "100"}, &fault, &error));
  EXPECT_EQ(fault.kind, FaultKind::kDrop);
  EXPECT_EQ(fault.amount, 100u);
  EXPECT_EQ(fault.remaining, 1);
  ASSERT_TRUE(ParseFault({"stall", "250", "3"}, &fault, &error));
  EXPECT_EQ(fault.kind, FaultKind::kStall);
  EXPECT_EQ(fault.remaining, 3);
  ASSERT_TRUE(ParseFault({"error", "PasswordProtected", "always"}, &fault, &error));
  EXPECT_EQ(fault.value, "PasswordProtected");
  EXPECT_LT(fault.remaining, 0);
  ASSERT_TRUE(ParseFault({"refuse"}, &fault, &error));
  EXPECT_EQ(fault.kind, FaultKind::kRefuse);
  ASSERT_TRUE(ParseFault({"pace", "40", "always"}, &fault, &error));
  EXPECT_EQ(fault.kind, FaultKind::kPace);
  EXPECT_EQ(fault.amount, 40u);
}

TEST(FaultSyntax, RejectsMalformedFaults) {
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
           {}, {"drop"}, {"drop", "-1"}, {"drop", "12x"}, {"stall", "99999999"}, {"error"}, {"refuse", "0"},
           {"drop", "1", "2", "3"}, {"explode", "1"}, {"pace"}, {"pace", "0"}, {"pace", "100001"}}) {
    Fault fault;
    std::string error;
    EXPECT_FALSE(ParseFault(words, &fault, &error)) << (words.empty() ? "" : words[0]);
  }
}

TEST(FaultSyntax, BackupFaultsTakeAPercentAWaitOrAHostilePath) {
  Fault fault;
  std::string error;
  ASSERT_TRUE(ParseFault({"disconnect", "99.5"}, &fault, &error)) << error;
  EXPECT_EQ(fault.kind, FaultKind::kDisconnectAt);
  EXPECT_EQ(fault.value, "99.5");
  ASSERT_TRUE(ParseFault({"unplug", "50", "2"}, &fault, &error)) << error;
  EXPECT_EQ(fault.kind, FaultKind::kUnplugAt);
  EXPECT_EQ(fault.remaining, 2);
  ASSERT_TRUE(ParseFault({"finish", "100"}, &fault, &error)) << error;
  EXPECT_EQ(fault.kind, FaultKind::kFinishAt);
  ASSERT_TRUE(ParseFault({"stray"}, &fault, &error)) << error;
  EXPECT_EQ(fault.kind, FaultKind::kStray);
  ASSERT_TRUE(ParseFault({"passcode", "180000"}, &fault, &error)) << error;
  EXPECT_EQ(fault.amount, 180000u);
  ASSERT_TRUE(ParseFault({"hostile", "move", "@UDID@/a", "../b"}, &fault, &error)) << error;
  EXPECT_EQ(fault.value, "move");
  EXPECT_EQ(fault.paths, (std::vector<std::string>{"@UDID@/a", "../b"}));
  ASSERT_TRUE(ParseFault({"hostile", "upload", "/etc/passwd", "always"}, &fault, &error)) << error;
  EXPECT_EQ(fault.remaining, -1);
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
           {"disconnect", "101"}, {"disconnect", "-1"}, {"unplug", "5%"}, {"passcode"}, {"silence", "x"},
           {"hostile", "upload"}, {"hostile", "chmod", "a"}, {"hostile", "move", "a"}}) {
    EXPECT_FALSE(ParseFault(words, &fault, &error)) << words[0] << " " << words[1];
  }
}

TEST(FaultTable, TakeAllFiresEveryMatchingFaultOnceAndLeavesTheOthers) {
  FaultTable table;
  Fault upload{FaultKind::kHostile, 0, "upload", 1, {"a"}};
  Fault download{FaultKind::kHostile, 0, "download", 1, {"b"}};
  Fault twice{FaultKind::kHostile, 0, "mkdir", 2, {"c"}};
  for (const Fault& fault : {upload, download, twice}) table.Arm("s", fault);
  auto not_download = [](const Fault& fault) { return fault.value != "download"; };
  EXPECT_EQ(table.TakeAll("s", FaultKind::kHostile, not_download).size(), 2u);
  std::vector<Fault> rest = table.TakeAll("s", FaultKind::kHostile);
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(rest[0].value, "download");
  EXPECT_EQ(rest[1].value, "mkdir");
  EXPECT_TRUE(table.TakeAll("s", FaultKind::kHostile).empty());
}

TEST(FaultTable, FiresTheArmedNumberOfTimes) {
  FaultTable table;
  Fault twice{FaultKind::kStall, 5, "", 2, {}};
  table.Arm("com.apple.afc", twice);
  EXPECT_FALSE(table.Take("com.apple.afc", FaultKind::kDrop));
  EXPECT_FALSE(table.Take("com.apple.atc", FaultKind::kStall));
  EXPECT_TRUE(table.Take("com.apple.afc", FaultKind::kStall));
  EXPECT_TRUE(table.Take("com.apple.afc", FaultKind::kStall));
  EXPECT_FALSE(table.Take("com.apple.afc", FaultKind::kStall));
  table.Arm("com.apple.afc", Fault{FaultKind::kError, 0, "8", -1, {}});
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(table.Take("com.apple.afc", FaultKind::kError));
  table.Clear("com.apple.afc");
  EXPECT_FALSE(table.Take("com.apple.afc", FaultKind::kError));
}

TEST(ControlChannel, AddressIsDerivedFromTheMuxAddress) {
  std::string control;
  ASSERT_TRUE(DeriveControlAddress("UNIX:/tmp/x/mux.sock", &control));
  EXPECT_EQ(control, "UNIX:/tmp/x/mux.sock.ctl");
  ASSERT_TRUE(DeriveControlAddress("127.0.0.1:27015", &control));
  EXPECT_EQ(control, "127.0.0.1:27016");
  EXPECT_FALSE(DeriveControlAddress("127.0.0.1:65535", &control));
  EXPECT_FALSE(DeriveControlAddress("nonsense", &control));
}

TEST(ControlChannel, MessagesRoundTripAndGarbageIsRefused) {
  std::vector<std::string> args;
  std::string error;
  std::string line = EncodeControlRequest({"fault", "U", "com.apple.afc", "error", "a \"quoted\" value"});
  ASSERT_TRUE(DecodeControlRequest(line, &args, &error)) << error;
  EXPECT_EQ(args.back(), "a \"quoted\" value");
  for (const char* bad : {"", "[]", "{\"args\": 3}", "{\"args\": [1]}", "{nope"}) {
    EXPECT_FALSE(DecodeControlRequest(bad, &args, &error)) << bad;
  }
  int status = -1;
  std::string message;
  ASSERT_TRUE(DecodeControlReply(EncodeControlReply(1, "no such device"), &status, &message));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(message, "no such device");
}

class ControlCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = kst::TempFolder() + "control-commands-" + std::to_string(kst::CurrentProcessId());
    std::string error;
    ASSERT_EQ(vdevice_fixtures::WriteProfile({"demo", folder_ + "/demo", "", "", "", 0, 0, 0}, &error), 0) << error;
    ASSERT_EQ(vdevice_fixtures::WriteProfile({"network", folder_ + "/network", "", "", "", 0, 0, 0}, &error), 0) << error;
  }
  void TearDown() override { kst::RemoveTree(folder_); }

  int Run(const std::vector<std::string>& args, std::string* message = nullptr) {
    std::string ignored;
    return RunControlCommand(registry_, args, message ? message : &ignored);
  }

  std::string folder_;
  DeviceRegistry registry_;
};

TEST_F(ControlCommandsTest, AttachDetachAndListenEvents) {
  std::shared_ptr<EventQueue> events = registry_.Subscribe();
  ASSERT_EQ(Run({"attach", folder_ + "/demo"}), 0);
  std::string message;
  EXPECT_EQ(Run({"attach", folder_ + "/demo"}, &message), 1);
  EXPECT_NE(message.find("attached already"), std::string::npos);
  ASSERT_EQ(registry_.Devices().size(), 1u);
  std::string udid = registry_.Devices()[0]->udid();
  ASSERT_EQ(Run({"detach", udid}), 0);
  EXPECT_EQ(Run({"detach", udid}), 1);

  std::vector<PlistPtr> messages = events->TakeAll(100);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(DictString(messages[0].get(), "MessageType"), "Attached");
  EXPECT_EQ(DictString(DictItem(messages[0].get(), "Properties", PLIST_DICT), "SerialNumber"), udid);
  EXPECT_EQ(DictString(messages[1].get(), "MessageType"), "Detached");

  ASSERT_EQ(Run({"attach", folder_ + "/demo"}), 0);
  std::shared_ptr<EventQueue> late = registry_.Subscribe();
  EXPECT_EQ(late->TakeAll(0).size(), 1u);
}

TEST_F(ControlCommandsTest, StateCommandsChangeTheNamedDevice) {
  ASSERT_EQ(Run({"attach", folder_ + "/demo"}), 0);
  ASSERT_EQ(Run({"attach", folder_ + "/network"}), 0);
  std::shared_ptr<VirtualDevice> demo = registry_.Devices()[0];
  std::shared_ptr<VirtualDevice> network = registry_.Devices()[1];
  EXPECT_EQ(Run({"trust", demo->udid(), "deny"}), 0);
  EXPECT_EQ(Run({"lock", demo->udid(), "on"}), 0);
  EXPECT_EQ(demo->trust(), TrustState::kDeny);
  EXPECT_TRUE(demo->locked());
  EXPECT_EQ(network->trust(), TrustState::kOn);
  EXPECT_FALSE(network->locked());
  EXPECT_EQ(Run({"fault", demo->udid(), "com.apple.afc", "drop", "10"}), 0);
  EXPECT_TRUE(demo->faults().Take("com.apple.afc", FaultKind::kDrop));
  std::string listing;
  ASSERT_EQ(Run({"list"}, &listing), 0);
  EXPECT_NE(listing.find(network->udid() + " id=2 Network"), std::string::npos) << listing;
}

TEST_F(ControlCommandsTest, BadCommandsSayWhatIsWrong) {
  ASSERT_EQ(Run({"attach", folder_ + "/demo"}), 0);
  std::string udid = registry_.Devices()[0]->udid();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"explode"}, {"attach"}, {"attach", folder_ + "/missing"}, {"trust", udid, "maybe"},
           {"trust", "nobody", "on"}, {"lock", udid}, {"fault", udid, "com.apple.afc", "drop"}, {"list", "x"}}) {
    std::string message;
    EXPECT_EQ(Run(args, &message), 1) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(message.empty());
  }
}

TEST_F(ControlCommandsTest, PairRecordsAndPairingsSurviveReattaching) {
  ASSERT_EQ(Run({"attach", folder_ + "/demo"}), 0);
  std::string udid = registry_.Devices()[0]->udid();
  registry_.Devices()[0]->pairings().Add("HOST");
  registry_.SavePairRecord(udid, "record");
  ASSERT_EQ(Run({"detach", udid}), 0);
  ASSERT_EQ(Run({"attach", folder_ + "/demo"}), 0);
  EXPECT_TRUE(registry_.Devices()[0]->pairings().Contains("HOST"));
  EXPECT_EQ(registry_.ReadPairRecord(udid), "record");
  EXPECT_TRUE(registry_.DeletePairRecord(udid));
  EXPECT_FALSE(registry_.ReadPairRecord(udid));
}

}  // namespace
}  // namespace vdevice
