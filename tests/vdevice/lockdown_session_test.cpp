// lockdownd's rules, request by request: what needs a session, how pairing answers in each
// trust state, and what StartService gives out.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "device_service.h"
#include "lockdown_session.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "plist_json.h"

namespace vdevice {
namespace {

constexpr const char* kHostId = "11111111-2222-3333-4444-555555555555";

class LockdownSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = kst::TempFolder() + "lockdown-session-" + std::to_string(kst::CurrentProcessId());
    kst::CreateDirectories(folder_ + "/afc");
    MakeDevice();
  }
  void TearDown() override { kst::RemoveTree(folder_); }

  void MakeDevice(TrustState trust = TrustState::kOn, bool locked = false) {
    DeviceProfile profile;
    profile.folder = folder_;
    profile.udid = "test-udid";
    profile.trust = trust;
    profile.locked = locked;
    profile.refused_set_values = {"DeviceName"};
    rapidjson::Document values;
    values.Parse(R"({"DeviceName":"Phone","ProductVersion":"16.6","SerialNumber":"SECRET1","UniqueChipID":5})");
    std::string error;
    profile.domains[kDefaultDomain] = PlistFromJson(values, &error);
    rapidjson::Document battery;
    battery.Parse(R"({"BatteryCurrentCapacity":87})");
    profile.domains["com.apple.mobile.battery"] = PlistFromJson(battery, &error);
    pairings_ = std::make_shared<PairingStore>();
    device_ = std::make_unique<VirtualDevice>(std::move(profile), 1, pairings_);
    session_ = std::make_unique<LockdownSession>(*device_);
  }

  PlistPtr Ask(const std::string& request, const std::map<std::string, std::string>& strings = {}) {
    PlistPtr message = MakeDict();
    SetString(message.get(), "Request", request);
    for (const auto& [key, value] : strings) SetString(message.get(), key.c_str(), value);
    bool close = false;
    return session_->Handle(message.get(), &close);
  }

  PlistPtr AskWithPairRecord(const std::string& request, const std::string& host_id) {
    PlistPtr message = MakeDict();
    SetString(message.get(), "Request", request);
    PlistPtr record = MakeDict();
    SetString(record.get(), "HostID", host_id);
    SetNode(message.get(), "PairRecord", std::move(record));
    bool close = false;
    return session_->Handle(message.get(), &close);
  }

  static std::string ErrorOf(const PlistPtr& reply) { return DictString(reply.get(), "Error").value_or(""); }

  void PairAndStartSession() {
    ASSERT_EQ(ErrorOf(AskWithPairRecord("Pair", kHostId)), "");
    ASSERT_EQ(ErrorOf(Ask("StartSession", {{"HostID", kHostId}})), "");
  }

  std::string folder_;
  std::shared_ptr<PairingStore> pairings_;
  std::unique_ptr<VirtualDevice> device_;
  std::unique_ptr<LockdownSession> session_;
};

TEST_F(LockdownSessionTest, RepliesEchoTheRequestAndQueryTypeNamesLockdown) {
  PlistPtr reply = Ask("QueryType");
  EXPECT_EQ(DictString(reply.get(), "Request"), "QueryType");
  EXPECT_EQ(DictString(reply.get(), "Type"), "com.apple.mobile.lockdown");
  EXPECT_EQ(ErrorOf(Ask("NoSuchRequest")), "InvalidRequest");
  PlistPtr no_request = MakeDict();
  bool close = false;
  EXPECT_EQ(ErrorOf(session_->Handle(no_request.get(), &close)), "InvalidRequest");
}

TEST_F(LockdownSessionTest, WithoutASessionOnlyPublicValuesAreGiven) {
  PlistPtr all = Ask("GetValue");
  plist_t value = DictItem(all.get(), "Value", PLIST_DICT);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(DictString(value, "ProductVersion"), "16.6");
  EXPECT_FALSE(DictString(value, "SerialNumber"));
  EXPECT_EQ(ErrorOf(Ask("GetValue", {{"Key", "SerialNumber"}})), "GetProhibited");
  EXPECT_EQ(ErrorOf(Ask("GetValue", {{"Domain", "com.apple.mobile.battery"}})), "GetProhibited");
  EXPECT_EQ(ErrorOf(Ask("SetValue", {{"Key", "Other"}, {"Value", "x"}})), "SessionInactive");
}

TEST_F(LockdownSessionTest, ASessionNeedsAPairedHost) {
  EXPECT_EQ(ErrorOf(Ask("StartSession", {{"HostID", kHostId}})), "InvalidHostID");
  EXPECT_EQ(ErrorOf(Ask("StartSession")), "MissingHostID");
  EXPECT_EQ(ErrorOf(AskWithPairRecord("ValidatePair", kHostId)), "InvalidHostID");
  PairAndStartSession();
  EXPECT_EQ(ErrorOf(AskWithPairRecord("ValidatePair", kHostId)), "");
  PlistPtr serial = Ask("GetValue", {{"Key", "SerialNumber"}});
  EXPECT_EQ(DictString(serial.get(), "Value"), "SECRET1");
  PlistPtr battery = Ask("GetValue", {{"Domain", "com.apple.mobile.battery"}, {"Key", "BatteryCurrentCapacity"}});
  EXPECT_EQ(DictUnsigned(battery.get(), "Value"), 87u);
  EXPECT_EQ(ErrorOf(Ask("GetValue", {{"Key", "NoSuchKey"}})), "MissingValue");
}

TEST_F(LockdownSessionTest, PairingFollowsTheTrustStateAndLock) {
  MakeDevice(TrustState::kOff);
  EXPECT_EQ(ErrorOf(AskWithPairRecord("Pair", kHostId)), "PairingDialogResponsePending");
  MakeDevice(TrustState::kDeny);
  EXPECT_EQ(ErrorOf(AskWithPairRecord("Pair", kHostId)), "UserDeniedPairing");
  MakeDevice(TrustState::kOn, true);
  EXPECT_EQ(ErrorOf(AskWithPairRecord("Pair", kHostId)), "PasswordProtected");
  MakeDevice(TrustState::kOn);
  PlistPtr reply = AskWithPairRecord("Pair", kHostId);
  EXPECT_EQ(ErrorOf(reply), "");
  EXPECT_TRUE(DictData(reply.get(), "EscrowBag"));
  EXPECT_EQ(ErrorOf(AskWithPairRecord("Pair", "")), "MissingHostID");
}

TEST_F(LockdownSessionTest, TurningTrustOffForgetsPairingsAndUnpairForgetsOne) {
  PairAndStartSession();
  EXPECT_EQ(ErrorOf(AskWithPairRecord("Unpair", kHostId)), "");
  EXPECT_EQ(ErrorOf(AskWithPairRecord("Unpair", kHostId)), "InvalidHostID");
  ASSERT_EQ(ErrorOf(AskWithPairRecord("Pair", kHostId)), "");
  device_->SetTrust(TrustState::kOff);
  EXPECT_EQ(ErrorOf(Ask("StartSession", {{"HostID", kHostId}})), "InvalidHostID");
}

TEST_F(LockdownSessionTest, PairRecordsWithForeignCertificatesAreRejected) {
  device_->SetValue(kDefaultDomain, "DevicePublicKey",
                    PlistPtr(plist_new_data("-----BEGIN RSA PUBLIC KEY-----\n", 31)));
  PlistPtr message = MakeDict();
  SetString(message.get(), "Request", "Pair");
  PlistPtr record = MakeDict();
  SetString(record.get(), "HostID", kHostId);
  SetData(record.get(), "DeviceCertificate", "not a certificate");
  SetNode(message.get(), "PairRecord", std::move(record));
  bool close = false;
  EXPECT_EQ(ErrorOf(session_->Handle(message.get(), &close)), "InvalidPairRecord");
  EXPECT_EQ(pairings_->Count(), 0u);
}

TEST_F(LockdownSessionTest, SetValueChangesValuesUnlessTheProfileRefuses) {
  PairAndStartSession();
  EXPECT_EQ(ErrorOf(Ask("SetValue", {{"Key", "DeviceName"}, {"Value", "New"}})), "SetProhibited");
  EXPECT_EQ(device_->StringValue("DeviceName"), "Phone");
  EXPECT_EQ(ErrorOf(Ask("SetValue", {{"Key", "TimeZone"}, {"Value", "Europe/Paris"}})), "");
  EXPECT_EQ(device_->StringValue("TimeZone"), "Europe/Paris");
  EXPECT_EQ(ErrorOf(Ask("SetValue", {{"Key", "TimeZone"}})), "MissingValue");
  EXPECT_EQ(ErrorOf(Ask("RemoveValue", {{"Key", "TimeZone"}})), "");
  EXPECT_FALSE(device_->StringValue("TimeZone"));
}

TEST_F(LockdownSessionTest, StartServiceOpensAOneShotPortForKnownServices) {
  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", "com.apple.afc"}})), "SessionInactive");
  PairAndStartSession();
  PlistPtr reply = Ask("StartService", {{"Service", "com.apple.afc"}});
  ASSERT_EQ(ErrorOf(reply), "");
  EXPECT_EQ(DictBool(reply.get(), "EnableServiceSSL"), false);
  std::optional<uint64_t> port = DictUnsigned(reply.get(), "Port");
  ASSERT_TRUE(port);
  EXPECT_EQ(device_->ClaimServicePort(static_cast<uint16_t>(*port)), "com.apple.afc");
  EXPECT_FALSE(device_->ClaimServicePort(static_cast<uint16_t>(*port)));

  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", "com.example.nothing"}})), "InvalidService");
  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", "com.apple.afc2"}})), "InvalidService");
  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", kLockdownServiceName}})), "InvalidService");
  EXPECT_EQ(ErrorOf(Ask("StartService")), "MissingService");
}

TEST_F(LockdownSessionTest, LockedDevicesAndRefuseFaultsKeepServicesClosed) {
  PairAndStartSession();
  device_->SetLocked(true);
  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", "com.apple.afc"}})), "PasswordProtected");
  EXPECT_EQ(DictBool(device_->GetValue(kDefaultDomain, "").get(), "PasswordProtected"), true);
  device_->SetLocked(false);
  Fault refuse;
  refuse.kind = FaultKind::kRefuse;
  refuse.value = "ServiceProhibited";
  device_->faults().Arm("com.apple.afc", refuse);
  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", "com.apple.afc"}})), "ServiceProhibited");
  EXPECT_EQ(ErrorOf(Ask("StartService", {{"Service", "com.apple.afc"}})), "");
}

TEST_F(LockdownSessionTest, StopSessionChecksTheSessionId) {
  PairAndStartSession();
  EXPECT_EQ(ErrorOf(Ask("StopSession", {{"SessionID", "wrong"}})), "InvalidSessionID");
  EXPECT_TRUE(session_->in_session());
  bool close = false;
  PlistPtr goodbye = MakeDict();
  SetString(goodbye.get(), "Request", "Goodbye");
  session_->Handle(goodbye.get(), &close);
  EXPECT_TRUE(close);
}

}  // namespace
}  // namespace vdevice
