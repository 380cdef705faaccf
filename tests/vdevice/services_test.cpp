// The services later features build on: diagnostics_relay's battery entry, the scripted ATC
// conversation and its variants, afc2 on jailbroken devices, and the locked profile.
#include <gtest/gtest.h>
#include <libimobiledevice/diagnostics_relay.h>

#include "byte_order.h"
#include "device_session.h"
#include "plist_util.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

using vdevice::PlistPtr;

class ServicesTest : public ::testing::Test {
 protected:
  std::string ServeKind(const std::string& kind, const std::function<void(const std::string&)>& edit = {}) {
    std::string profile = vd_.MakeProfile(kind);
    if (edit) edit(profile);
    EXPECT_TRUE(vd_.Start({profile})) << vd_.ServerLog();
    vd_.ExportSocketAddress();
    udid_ = VdeviceFixture::ProfileUdid(profile);
    return profile;
  }

  // Opens a session and com.apple.atc, and sends the host's opening PowerAssertion.
  void StartAtcConversation(DeviceSession* session, class AtcPeer* atc);

  VdeviceFixture vd_;
  std::string udid_;
};

TEST_F(ServicesTest, DiagnosticsRelayAnswersTheBatteryRegistryEntry) {
  ServeKind("demo");
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  diagnostics_relay_client_t client = nullptr;
  ASSERT_EQ(diagnostics_relay_client_start_service(session.device(), &client, "test"), DIAGNOSTICS_RELAY_E_SUCCESS);
  plist_t answer = nullptr;
  ASSERT_EQ(diagnostics_relay_query_ioregistry_entry(client, nullptr, "IOPMPowerSource", &answer),
            DIAGNOSTICS_RELAY_E_SUCCESS);
  plist_t registry = vdevice::DictItem(answer, "IORegistry", PLIST_DICT);
  EXPECT_EQ(vdevice::DictUnsigned(registry, "CycleCount"), 312u);
  EXPECT_EQ(vdevice::DictBool(registry, "IsCharging"), false);
  plist_free(answer);
  answer = nullptr;
  EXPECT_NE(diagnostics_relay_query_ioregistry_entry(client, nullptr, "NoSuchClass", &answer),
            DIAGNOSTICS_RELAY_E_SUCCESS);
  EXPECT_EQ(diagnostics_relay_goodbye(client), DIAGNOSTICS_RELAY_E_SUCCESS);
  diagnostics_relay_client_free(client);
}

// An atc frame: 4-byte little-endian length, then the binary property list.
std::string AtcFrame(plist_t message) {
  std::string body = vdevice::ToBinary(message);
  std::string prefix(4, '\0');
  vdevice::StoreLittle(reinterpret_cast<uint8_t*>(prefix.data()), 4, body.size());
  return prefix + body;
}

// Talks to com.apple.atc as a host does.
class AtcPeer {
 public:
  bool Open(DeviceSession& session) { return connection_.Open(session, "com.apple.atc"); }
  bool SendPowerAssertion() {
    PlistPtr message = vdevice::MakeDict();
    vdevice::SetString(message.get(), "Command", "PowerAssertion");
    PlistPtr params = vdevice::MakeDict();
    vdevice::SetBool(params.get(), "Enabled", true);
    vdevice::SetNode(message.get(), "Params", std::move(params));
    vdevice::SetUnsigned(message.get(), "Session", 0);
    return connection_.Send(AtcFrame(message.get()));
  }
  // The next message; an empty pointer for the zero-length end frame; false when closed.
  bool Receive(PlistPtr* message) {
    std::string prefix, body;
    if (!connection_.Receive(4, &prefix)) return false;
    uint64_t length = vdevice::LoadLittle(reinterpret_cast<const uint8_t*>(prefix.data()), 4);
    message->reset();
    if (length == 0) return true;
    if (!connection_.Receive(length, &body)) return false;
    EXPECT_EQ(body.rfind("bplist00", 0), 0u);
    *message = vdevice::ParsePlist(body.data(), body.size());
    return true;
  }

 private:
  ServiceConnection connection_;
};

void ServicesTest::StartAtcConversation(DeviceSession* session, AtcPeer* atc) {
  ASSERT_EQ(session->Open(udid_), LOCKDOWN_E_SUCCESS);
  ASSERT_TRUE(atc->Open(*session));
  ASSERT_TRUE(atc->SendPowerAssertion());
}

TEST_F(ServicesTest, AtcReportsAssetMetricsAfterThePowerAssertion) {
  ServeKind("demo");
  DeviceSession session;
  AtcPeer atc;
  ASSERT_NO_FATAL_FAILURE(StartAtcConversation(&session, &atc));
  PlistPtr metrics;
  ASSERT_TRUE(atc.Receive(&metrics));
  ASSERT_TRUE(metrics);
  EXPECT_EQ(vdevice::DictKeys(metrics.get()).front(), "Command");
  EXPECT_EQ(vdevice::DictString(metrics.get(), "Command"), "AssetMetrics");
  plist_t params = vdevice::DictItem(metrics.get(), "Params", PLIST_DICT);
  EXPECT_EQ(vdevice::DictUnsigned(params, "_PhysicalSize"), 117266464768u);
  plist_t photo = vdevice::DictItem(params, "Photo", PLIST_DICT);
  EXPECT_TRUE(vdevice::DictUnsigned(vdevice::DictItem(photo, "CameraRoll", PLIST_DICT), "_Count"));
  PlistPtr end;
  ASSERT_TRUE(atc.Receive(&end));
  EXPECT_FALSE(end);
}

TEST_F(ServicesTest, AtcScriptVariantsArePlayedAsWritten) {
  ServeKind("demo", [](const std::string& profile) {
    ASSERT_TRUE(VdeviceFixture::EditAtcScript(profile, [](rapidjson::Document& script) {
      auto& allocator = script.GetAllocator();
      rapidjson::Value ping(rapidjson::kObjectType);
      rapidjson::Value message(rapidjson::kObjectType);
      message.AddMember("Command", "Ping", allocator);
      ping.AddMember("send", message, allocator);
      rapidjson::Value& steps = script["steps"];
      steps.PushBack(rapidjson::Value(), allocator);
      for (rapidjson::SizeType i = steps.Size() - 1; i > 1; --i) steps[i] = steps[i - 1];
      steps[1] = ping;
      steps[steps.Size() - 1]["end"] = "close";
    }));
  });
  DeviceSession session;
  AtcPeer atc;
  ASSERT_NO_FATAL_FAILURE(StartAtcConversation(&session, &atc));
  PlistPtr first, second, third;
  ASSERT_TRUE(atc.Receive(&first));
  EXPECT_EQ(vdevice::DictString(first.get(), "Command"), "Ping");
  ASSERT_TRUE(atc.Receive(&second));
  EXPECT_EQ(vdevice::DictString(second.get(), "Command"), "AssetMetrics");
  EXPECT_FALSE(atc.Receive(&third));
}

TEST_F(ServicesTest, AtcErrorFaultReplacesTheNextMessage) {
  ServeKind("demo");
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.atc", {"error", "IdleExit"}));
  DeviceSession session;
  AtcPeer atc;
  ASSERT_NO_FATAL_FAILURE(StartAtcConversation(&session, &atc));
  PlistPtr message;
  ASSERT_TRUE(atc.Receive(&message));
  EXPECT_EQ(vdevice::DictString(message.get(), "Command"), "IdleExit");
}

TEST_F(ServicesTest, AtcClosesWhenTheHostOpensWithTheWrongCommand) {
  ServeKind("demo");
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  ServiceConnection raw;
  ASSERT_TRUE(raw.Open(session, "com.apple.atc"));
  PlistPtr wrong = vdevice::MakeDict();
  vdevice::SetString(wrong.get(), "Command", "Hello");
  ASSERT_TRUE(raw.Send(AtcFrame(wrong.get())));
  std::string reply;
  EXPECT_FALSE(raw.Receive(4, &reply, 2000));
  EXPECT_NE(vd_.ServerLog().find("atc: expected PowerAssertion, got \"Hello\""), std::string::npos);
}

TEST_F(ServicesTest, Afc2ServesTheWholeTreeOfAJailbrokenDeviceOnly) {
  ServeKind("jailbroken");
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  AfcSession afc2;
  ASSERT_EQ(afc2.Open(session, "com.apple.afc2"), 0);
  char** list = nullptr;
  ASSERT_EQ(afc_read_directory(afc2.get(), "/var/root/Media/Cydia/AutoInstall", &list), AFC_E_SUCCESS);
  afc_dictionary_free(list);
  vd_.Stop();

  VdeviceFixture plain;
  std::string demo = plain.MakeProfile("demo");
  ASSERT_TRUE(plain.Start({demo}));
  plain.ExportSocketAddress();
  DeviceSession demo_session;
  ASSERT_EQ(demo_session.Open(VdeviceFixture::ProfileUdid(demo)), LOCKDOWN_E_SUCCESS);
  AfcSession none;
  EXPECT_EQ(none.Open(demo_session, "com.apple.afc2"), LOCKDOWN_E_INVALID_SERVICE);
}

TEST_F(ServicesTest, LockedProfileRefusesPairingUntilUnlocked) {
  ServeKind("locked");
  DeviceSession locked;
  EXPECT_EQ(locked.Open(udid_), LOCKDOWN_E_PASSWORD_PROTECTED);
  ASSERT_TRUE(vd_.Lock(udid_, false));
  DeviceSession unlocked;
  ASSERT_EQ(unlocked.Open(udid_), LOCKDOWN_E_SUCCESS);
  plist_t value = nullptr;
  ASSERT_EQ(lockdownd_get_value(unlocked.lockdown(), nullptr, "PasswordProtected", &value), LOCKDOWN_E_SUCCESS);
  uint8_t protected_flag = 1;
  plist_get_bool_val(value, &protected_flag);
  EXPECT_FALSE(protected_flag);
  plist_free(value);
  AfcSession afc;
  EXPECT_EQ(afc.Open(unlocked), 0);
}

}  // namespace
}  // namespace vdevice_test
