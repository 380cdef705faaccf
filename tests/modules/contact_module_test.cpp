// Contacts (100-106) through the front-end link against the simulated iPhone's synchronisation
// service: listings in their batches and packet numbers, compared with what libimobiledevice's
// own mobilesync client reads; every write followed by a fresh listing that shows it and every
// delete by one that does not; refused classes, dead and misbehaving connections; and the
// address book's path out of a backup extraction.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "device_session.h"
#include "mobilesync_reader.h"
#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"
#include "sync_records.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kContacts = "com.apple.Contacts";
constexpr const char* kContactKind = "com.apple.contacts.Contact";
constexpr const char* kPhoneKind = "com.apple.contacts.Phone Number";

// A process-changes text as a front-end writes it: `records` is the inside of the records dict.
std::string ProcessChanges(const std::string& records, const std::string& kind) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist version=\"1.0\"><array>"
         "<string>SDMessageProcessChanges</string><string>com.apple.Contacts</string><dict>" +
         records + "</dict><false/><dict><key>SyncDeviceLinkEntityNamesKey</key><array><string>" + kind +
         "</string></array><key>SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey</key><true/></dict></array></plist>";
}

std::string ContactRecord(const std::string& id, const std::string& first, const std::string& last) {
  return "<key>" + id + "</key><dict><key>com.apple.syncservices.RecordEntityName</key><string>" + kContactKind +
         "</string><key>first name</key><string>" + first + "</string><key>last name</key><string>" + last +
         "</string></dict>";
}

std::string PhoneRecord(const std::string& id, const std::string& contact, const std::string& number) {
  return "<key>" + id + "</key><dict><key>com.apple.syncservices.RecordEntityName</key><string>" + kPhoneKind +
         "</string><key>value</key><string>" + number + "</string><key>type</key><string>mobile</string>"
         "<key>contact</key><array><string>" + contact + "</string></array></dict>";
}

struct Listing {
  int64_t code = -1;
  int64_t contact_count = -2;
  int64_t group_count = -2;
  std::vector<size_t> contact_batches;
  std::vector<size_t> group_batches;
  rapidjson::Document contacts{rapidjson::kObjectType};
  rapidjson::Document groups{rapidjson::kObjectType};
};

class ContactModuleTest : public ModuleTest {
 protected:
  // A demo phone whose contact store holds `contacts` contacts and `groups` groups (the demo's
  // own store when `contacts` is negative); `edit` may change the profile further.
  void Start(int contacts = -1, int groups = 2, const std::function<void(const std::string&)>& edit = nullptr) {
    StartWith("demo", [&](const std::string& folder) {
      if (contacts >= 0) {
        ASSERT_TRUE(kst::WriteWholeFile(folder + "/mobilesync/com.apple.Contacts.json",
                                        vdevice_fixtures::ContactStoreJson(contacts, groups)));
      }
      if (edit) edit(folder);
    });
    vd.ExportSocketAddress();
  }

  // Runs 100 and takes its messages apart by packet number: 101 contacts, 100 groups.
  Listing List() {
    Listing listing;
    auto messages = Run(100, DeviceJson());
    listing.code = messages.back().code;
    for (size_t i = 0; i + 1 < messages.size(); ++i) {
      const frontend::Message& message = messages[i];
      EXPECT_EQ(message.status, 2);
      EXPECT_EQ(message.uuid, udid);
      const bool contacts = message.command == 101;
      EXPECT_TRUE(contacts || message.command == 100) << message.command;
      rapidjson::Document info;
      EXPECT_TRUE(message.info && VelJsonUtil::Parse(*message.info, &info));
      if (message.stage == 1) {
        (contacts ? listing.contact_count : listing.group_count) = info["Count"].GetInt64();
        continue;
      }
      rapidjson::Document part = AttachmentJson(message);
      rapidjson::Document& all = contacts ? listing.contacts : listing.groups;
      (contacts ? listing.contact_batches : listing.group_batches).push_back(part.MemberCount());
      for (auto& member : part.GetObject()) {
        all.AddMember(rapidjson::Value(member.name, all.GetAllocator()), rapidjson::Value(member.value, all.GetAllocator()),
                      all.GetAllocator());
      }
    }
    return listing;
  }

  std::vector<frontend::Message> WithParameters(uint32_t command, const std::string& json) {
    return Run(command, DeviceJson(), Compressed(json));
  }

  // A contact write of the given kinds' texts; the final reply.
  frontend::Message Write(const std::vector<std::pair<std::string, std::string>>& texts) {
    rapidjson::Document parameters(rapidjson::kObjectType);
    for (const auto& [kind, text] : texts) {
      VelJsonUtil::AddJsonDictStringValue(parameters, parameters.GetAllocator(), kind.c_str(), text);
    }
    return WithParameters(102, VelJsonUtil::ToString(parameters)).back();
  }

  // How many pushes of contact changes the device applied so far.
  size_t Applied() const {
    const std::string log = vd.ServerLog();
    size_t count = 0;
    for (size_t at = log.find("com.apple.Contacts changes applied"); at != std::string::npos;
         at = log.find("com.apple.Contacts changes applied", at + 1)) {
      ++count;
    }
    return count;
  }

  // What libimobiledevice's mobilesync client reads of the contact store.
  vdevice_test::MobileSyncReading StockReading() {
    vdevice_test::DeviceSession session;
    EXPECT_EQ(session.Open(udid), LOCKDOWN_E_SUCCESS);
    return vdevice_test::ReadAllRecords(session, kContacts, 106);
  }
};

std::set<std::string> Ids(const rapidjson::Value& object) {
  std::set<std::string> ids;
  for (const auto& member : object.GetObject()) ids.insert(member.name.GetString());
  return ids;
}

TEST_F(ContactModuleTest, TwoHundredFiftyContactsListInHundredsWithTheirRecordsAsTheStockClientReadsThem) {
  Start(250, 2);
  Listing listing = List();
  ASSERT_EQ(listing.code, 0) << vd.ServerLog();
  EXPECT_EQ(listing.contact_count, 250);
  EXPECT_EQ(listing.contact_batches, (std::vector<size_t>{100, 100, 50}));
  EXPECT_EQ(listing.group_count, 2);
  EXPECT_EQ(listing.group_batches, (std::vector<size_t>{2}));
  const rapidjson::Value& first = listing.contacts["1"];
  EXPECT_STREQ(first["com.apple.syncservices.RecordEntityName"].GetString(), kContactKind);
  EXPECT_STREQ(first[kPhoneKind][0]["id"].GetString(), "phone/1");
  EXPECT_STREQ(first[kPhoneKind][0]["value"].GetString(), "+1 555 0000000");
  EXPECT_STREQ(first["com.apple.contacts.Email Address"][0]["value"].GetString(), "person1@example.com");
  EXPECT_EQ(listing.groups["group/1"]["members"].Size(), 2u);
  EXPECT_STREQ(listing.groups["group/2"]["name"].GetString(), "Work & Co <Ltd>");

  // The same contacts, phone numbers and groups as libimobiledevice's client reads.
  auto stock = StockReading();
  ASSERT_EQ(stock.error, 0);
  std::set<std::string> stock_contacts, stock_groups;
  size_t stock_phones = 0, listed_phones = 0;
  for (const auto& [id, xml] : stock.records) {
    if (xml.find("<string>com.apple.contacts.Contact</string>") != std::string::npos) stock_contacts.insert(id);
    if (xml.find("<string>com.apple.contacts.Group</string>") != std::string::npos) stock_groups.insert(id);
    if (xml.find("<string>com.apple.contacts.Phone Number</string>") != std::string::npos) ++stock_phones;
  }
  for (const auto& contact : listing.contacts.GetObject()) listed_phones += contact.value[kPhoneKind].Size();
  EXPECT_EQ(Ids(listing.contacts), stock_contacts);
  EXPECT_EQ(Ids(listing.groups), stock_groups);
  EXPECT_EQ(listed_phones, stock_phones);
}

TEST_F(ContactModuleTest, NoGroupsOnADeviceThatSyncsContactsElsewhereCountMinusOne) {
  // The demo's data_sync settings name an iCloud account for Contacts.
  Start(3, 0);
  Listing listing = List();
  ASSERT_EQ(listing.code, 0);
  EXPECT_EQ(listing.contact_count, 3);
  EXPECT_EQ(listing.group_count, -1);
  EXPECT_TRUE(listing.group_batches.empty());
}

TEST_F(ContactModuleTest, SharedPhoneNumberAndUtcTimesInLocalTime) {
  environment["TZ"] = "XXT-2";  // two hours east of UTC
  Start(2, 0, [](const std::string& folder) {
    ASSERT_TRUE(vdevice_test::VdeviceFixture::EditJson(folder + "/mobilesync/com.apple.Contacts.json", [](rapidjson::Document& store) {
      auto& a = store.GetAllocator();
      store["records"]["phone/1"]["contact"].PushBack("2", a);
      store["records"]["1"].AddMember("birthday", "2021-05-01T10:00:00Z", a);
      store["records"]["2"].AddMember("creation date", "2021-02-30T10:00:00Z", a);
    }));
  });
  Listing listing = List();
  ASSERT_EQ(listing.code, 0) << vd.ServerLog();
  EXPECT_STREQ(listing.contacts["1"]["birthday"].GetString(), "2021-05-01 12:00:00");
  EXPECT_STREQ(listing.contacts["2"]["creation date"].GetString(), "");
  ASSERT_EQ(listing.contacts["2"][kPhoneKind].Size(), 2u);
  EXPECT_STREQ(listing.contacts["2"][kPhoneKind][0]["id"].GetString(), "phone/1");
  EXPECT_STREQ(listing.contacts["1"][kPhoneKind][0]["id"].GetString(), "phone/1");
}

TEST_F(ContactModuleTest, WritesShowInAFreshListingAndDeletesDoNot) {
  Start();
  // Only the Contact kind: one push, a remap with the single Contact member.
  const size_t applied = Applied();
  frontend::Message only = Write({{kContactKind, ProcessChanges(ContactRecord("host-1", "Ada", "Lovelace &amp; Co"), kContactKind)}});
  ASSERT_EQ(only.code, 0) << vd.ServerLog();
  rapidjson::Document remap;
  ASSERT_TRUE(only.info && VelJsonUtil::Parse(*only.info, &remap));
  ASSERT_EQ(remap.MemberCount(), 1u);
  EXPECT_EQ(Applied(), applied + 1);
  const std::string ada = remap[kContactKind]["host-1"].GetString();
  Listing after = List();
  ASSERT_TRUE(after.contacts.HasMember(ada.c_str()));
  EXPECT_STREQ(after.contacts[ada.c_str()]["last name"].GetString(), "Lovelace & Co");
  EXPECT_EQ(after.contact_count, 13);

  // A contact with a phone number: the phone's text names the host identifier, the device gets
  // the contact's own.
  frontend::Message both = Write({{kContactKind, ProcessChanges(ContactRecord("host-2", "Alan", "Turing"), kContactKind)},
                                  {kPhoneKind, ProcessChanges(PhoneRecord("phone-h", "host-2", "+44 1234"), kPhoneKind)}});
  ASSERT_EQ(both.code, 0);
  ASSERT_TRUE(VelJsonUtil::Parse(*both.info, &remap));
  const std::string alan = remap[kContactKind]["host-2"].GetString();
  const std::string phone = remap[kPhoneKind]["phone-h"].GetString();
  Listing with_phone = List();
  ASSERT_TRUE(with_phone.contacts.HasMember(alan.c_str()));
  EXPECT_STREQ(with_phone.contacts[alan.c_str()][kPhoneKind][0]["id"].GetString(), phone.c_str());
  auto stock = StockReading();
  EXPECT_NE(stock.records[phone].find("<string>" + alan + "</string>"), std::string::npos);

  // Deleting the contact (103) takes it and its phone number out of the next listing and the store.
  EXPECT_EQ(WithParameters(103, "{\"id\":\"" + alan + "\"}").back().code, 0);
  Listing deleted = List();
  EXPECT_FALSE(deleted.contacts.HasMember(alan.c_str()));
  EXPECT_TRUE(deleted.contacts.HasMember(ada.c_str()));
  EXPECT_EQ(StockReading().records.count(phone), 0u);
}

TEST_F(ContactModuleTest, AContactTheDeviceGivesNoIdentifierEndsWith28) {
  Start();
  // A change of a stored contact: the device keeps its identifier and remaps nothing.
  frontend::Message reply = Write({{kContactKind, ProcessChanges(ContactRecord("3", "Same", "One"), kContactKind)}});
  EXPECT_EQ(reply.code, 28);
  EXPECT_EQ(reply.status, 6);
  EXPECT_EQ(Write({{kContactKind, "<not a plist"}}).code, 8);
  EXPECT_EQ(Write({}).code, 28);
}

TEST_F(ContactModuleTest, GroupsAddedChangedAndDeletedWithTheirNamesAsTyped) {
  Start();
  auto added = WithParameters(104, R"({"id":"g-new","name":"Tom & Jerry <3"})");
  ASSERT_EQ(added.back().code, 0) << vd.ServerLog();
  ASSERT_GE(added.size(), 2u);
  EXPECT_EQ(added[added.size() - 2].command, 104u);
  rapidjson::Document group = AttachmentJson(added[added.size() - 2]);
  ASSERT_EQ(group.MemberCount(), 1u);
  const std::string id = group.MemberBegin()->name.GetString();
  Listing listing = List();
  ASSERT_TRUE(listing.groups.HasMember(id.c_str()));
  EXPECT_STREQ(listing.groups[id.c_str()]["name"].GetString(), "Tom & Jerry <3");

  auto changed = WithParameters(106, R"({"guid":")" + id + R"(","name":"Cats > Mice","members":["1","2",7]})");
  EXPECT_EQ(changed.back().code, 0);
  listing = List();
  EXPECT_EQ(listing.group_count, 3);
  EXPECT_STREQ(listing.groups[id.c_str()]["name"].GetString(), "Cats > Mice");
  EXPECT_EQ(listing.groups[id.c_str()]["members"].Size(), 2u);

  EXPECT_EQ(WithParameters(105, R"({"id":")" + id + R"("})").back().code, 0);
  EXPECT_FALSE(List().groups.HasMember(id.c_str()));
  EXPECT_EQ(WithParameters(104, R"({"name":"no id"})").back().code, 8);
}

TEST_F(ContactModuleTest, RefusedClassAndAServiceThatWillNotStart) {
  Start(-1, 2, [](const std::string& folder) {
    ASSERT_TRUE(vdevice_test::VdeviceFixture::EditJson(folder + "/mobilesync/settings.json", [](rapidjson::Document& s) {
      s["refused"].PushBack("com.apple.Contacts", s.GetAllocator());
    }));
  });
  const auto begin = std::chrono::steady_clock::now();
  Listing listing = List();
  EXPECT_EQ(listing.code, 0);
  EXPECT_EQ(listing.contact_count, 0);
  EXPECT_EQ(listing.group_count, -1);
  EXPECT_EQ(Write({{kContactKind, ProcessChanges(ContactRecord("h", "A", "B"), kContactKind)}}).code, 28);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 20s);
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"refuse", "always"}));
  EXPECT_EQ(Run(100, DeviceJson()).back().code, 13);
}

TEST_F(ContactModuleTest, DeadOrMisbehavingConnectionsEndPromptlyWithTheCommandsCodes) {
  Start();
  const auto begin = std::chrono::steady_clock::now();
  // Cut after the greeting and part of the first batch; a bare length announcing more than 10 MiB
  // in place of the first answer, the device gone after it; and a bare zero length in place of
  // the first answer, after which the session goes on (the write then goes through).
  struct Case {
    std::vector<std::string> fault;
    int64_t write_code;
  };
  for (const Case& c : {Case{{"drop", "600"}, 28}, Case{{"frame", "10485761"}, 28}, Case{{"frame", "0"}, 0}}) {
    const std::vector<std::string>& fault = c.fault;
    SCOPED_TRACE(fault[0] + " " + fault[1]);
    ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", fault));
    Listing listing = List();
    EXPECT_EQ(listing.code, 0);
    ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", fault));
    EXPECT_EQ(Write({{kContactKind, ProcessChanges(ContactRecord("h", "A", "B"), kContactKind)}}).code, c.write_code);
    ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", fault));
    EXPECT_EQ(WithParameters(103, R"({"id":"1"})").back().code, 0);
    vd.Ctl({"fault", udid, "com.apple.mobilesync", "clear"});
  }
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 60s);
  // The device serves whole sessions again afterwards, with what the faulted sessions changed
  // (the contact written through the empty frame, contact 1 deleted) as the stock client reads it.
  Listing after = List();
  std::set<std::string> stock_contacts;
  for (const auto& [id, xml] : StockReading().records) {
    if (xml.find("<string>com.apple.contacts.Contact</string>") != std::string::npos) stock_contacts.insert(id);
  }
  EXPECT_EQ(Ids(after.contacts), stock_contacts);
  EXPECT_FALSE(after.contacts.HasMember("1"));
}

TEST_F(ContactModuleTest, ADeviceThatStopsAnsweringEndsTheSessionAfterTheReplyTimeOut) {
  environment["TANDREL_SYNC_REPLY_TIMEOUT_MS"] = "400";
  open_log = 1;
  Start(30, 1);
  // The device holds its next answer far longer than the time-out, without closing the
  // connection: the listing ends with nothing listed and the write without a device identifier,
  // each long before the answer would come.
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"stall", "15000"}));
  Listing listing = List();
  EXPECT_EQ(listing.code, 0);
  EXPECT_EQ(listing.contact_count, 0);
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"stall", "15000"}));
  EXPECT_EQ(Write({{kContactKind, ProcessChanges(ContactRecord("h", "A", "B"), kContactKind)}}).code, 28);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
  const std::string logs = Logs();
  const std::string line = "sync com.apple.Contacts: the device sent no reply within 400 ms";
  const size_t first = logs.find(line);
  ASSERT_NE(first, std::string::npos) << logs;
  EXPECT_NE(logs.find(line, first + line.size()), std::string::npos) << logs;
  EXPECT_NE(vd.ServerLog().find("reply stalled 15000 ms"), std::string::npos);
  // A device that answers again is listed in full: the stalled sessions left nothing behind.
  Listing after = List();
  EXPECT_EQ(after.code, 0);
  EXPECT_EQ(after.contact_count, 30);
  EXPECT_EQ(after.group_count, 1);
}

TEST_F(ContactModuleTest, BackupExtractionHandsTheAddressBookPathToTheFrontEnd) {
  Start();
  auto messages = Run(1608, DeviceJson(R"("info":{"types":[1]})"));
  ASSERT_EQ(messages.back().code, 0) << vd.ServerLog();
  std::string path;
  for (const auto& message : messages) {
    rapidjson::Document info;
    if (message.status == 2 && message.info && VelJsonUtil::Parse(*message.info, &info) && info.IsObject() &&
        info.HasMember("contact_db_path")) {
      EXPECT_EQ(message.stage, 2);
      EXPECT_EQ(message.uuid, udid);
      path = info["contact_db_path"].GetString();
    }
  }
  EXPECT_NE(path.find("31bb7ba8914766d4ba40d6dfb6113c8b614be442"), std::string::npos);
  EXPECT_TRUE(kst::PathExists(path));
}

}  // namespace
