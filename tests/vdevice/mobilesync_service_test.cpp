// The synchronisation service of the simulated iPhone read and changed through libimobiledevice's
// mobilesync API: batches of the profile's size, the store as written, per-class refusal and
// cancellation, the write flow (a contact remapped to the device's identifier, a dependent record
// naming it, groups added and changed, deletions that take dependents along), changes refused
// before the device is ready, and injected errors.
#include <gtest/gtest.h>
#include <libimobiledevice/mobilesync.h>
#include <rapidjson/document.h>

#include "mobilesync_reader.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

constexpr const char* kContacts = "com.apple.Contacts";

class MobileSyncServiceTest : public ::testing::Test {
 protected:
  // A demo phone whose settings.json is edited first.
  void Serve(const std::function<void(rapidjson::Document&)>& settings) {
    profile_ = vd_.MakeProfile("demo");
    ASSERT_TRUE(VdeviceFixture::EditJson(profile_ + "/mobilesync/settings.json", settings));
    ASSERT_TRUE(vd_.Start({profile_})) << vd_.ServerLog();
    vd_.ExportSocketAddress();
    ASSERT_EQ(session_.Open(VdeviceFixture::ProfileUdid(profile_)), LOCKDOWN_E_SUCCESS);
  }

  size_t StoredRecords() {
    size_t count = 0;
    VdeviceFixture::EditJson(profile_ + "/mobilesync/com.apple.Contacts.json",
                             [&count](rapidjson::Document& store) { count = store["records"].MemberCount(); });
    return count;
  }

  VdeviceFixture vd_;
  std::string profile_;
  DeviceSession session_;
};

TEST_F(MobileSyncServiceTest, AllRecordsArriveInBatchesOfTheProfileSize) {
  Serve([](rapidjson::Document& settings) { settings["batch_size"] = 5; });
  MobileSyncReading reading = ReadAllRecords(session_, kContacts, 106);
  ASSERT_EQ(reading.error, 0) << vd_.ServerLog();
  // 12 contacts, each with a phone number and an e-mail address, and two groups: 38 records, 8 batches.
  EXPECT_EQ(reading.records.size(), 38u);
  EXPECT_EQ(reading.records.size(), StoredRecords());
  EXPECT_EQ(reading.batches, 8);
  EXPECT_NE(reading.records["1"].find("com.apple.contacts.Contact"), std::string::npos);
  EXPECT_NE(reading.records["phone/1"].find("<string>1</string>"), std::string::npos);
}

TEST_F(MobileSyncServiceTest, RefusedAndMissingClassesAreRefusedWithAReason) {
  // Notes refused as a current device refuses them, contacts as one whose contacts live elsewhere.
  Serve([](rapidjson::Document& settings) {
    settings["refused"].PushBack(rapidjson::StringRef(kContacts), settings.GetAllocator());
    settings["refused"].PushBack("com.apple.Notes", settings.GetAllocator());
  });
  for (const char* data_class : {kContacts, "com.apple.Notes", "com.apple.MailAccounts"}) {
    MobileSyncReading reading = ReadAllRecords(session_, data_class, 106);
    EXPECT_NE(reading.error, 0) << data_class;
    EXPECT_EQ(reading.refusal, "No Data Store available") << data_class;
    EXPECT_TRUE(reading.records.empty());
  }
  // The classes that are not refused still sync on the same device.
  EXPECT_EQ(ReadAllRecords(session_, "com.apple.Bookmarks", 102).error, 0);
}

// The generated calendar, note and bookmark stores in their record formats: events, alarms and
// recurrences name their owners, dates are plist dates, bookmarks name their folder.
TEST_F(MobileSyncServiceTest, CalendarNoteAndBookmarkStoresReadAsTheDeviceKeepsThem) {
  Serve([](rapidjson::Document& settings) { settings["batch_size"] = 4; });
  MobileSyncReading calendars = ReadAllRecords(session_, "com.apple.Calendars", 110);
  ASSERT_EQ(calendars.error, 0) << vd_.ServerLog();
  // Two calendars, each with three events, two alarms on the first and a recurrence on the last.
  EXPECT_EQ(calendars.records.size(), 2u * (1 + 3 + 2 + 1));
  EXPECT_EQ(calendars.batches, 4);
  EXPECT_NE(calendars.records["1"].find("com.apple.calendars.Calendar"), std::string::npos);
  EXPECT_NE(calendars.records["2"].find("<key>start date</key>"), std::string::npos);
  EXPECT_NE(calendars.records["2"].find("<date>2026-01-10T09:30:00Z</date>"), std::string::npos);
  EXPECT_NE(calendars.records["3"].find("com.apple.calendars.DisplayAlarm"), std::string::npos);
  EXPECT_NE(calendars.records["3"].find("<string>2</string>"), std::string::npos);  // its owner event

  MobileSyncReading notes = ReadAllRecords(session_, "com.apple.Notes", 102);
  ASSERT_EQ(notes.error, 0);
  EXPECT_EQ(notes.records.size(), 7u);
  EXPECT_NE(notes.records["5"].find("Salt &amp; pepper &lt;5&gt;"), std::string::npos);
  EXPECT_NE(notes.records["1"].find("<key>dateModified</key>"), std::string::npos);

  MobileSyncReading bookmarks = ReadAllRecords(session_, "com.apple.Bookmarks", 102);
  ASSERT_EQ(bookmarks.error, 0);
  EXPECT_EQ(bookmarks.records.size(), 5u);
  EXPECT_NE(bookmarks.records["1"].find("com.apple.bookmarks.Folder"), std::string::npos);
  EXPECT_NE(bookmarks.records["4"].find("<key>parent</key>"), std::string::npos);
}

TEST_F(MobileSyncServiceTest, PushedRecordIsRemappedStoredAndDeleted) {
  Serve([](rapidjson::Document&) {});
  plist_t contact = plist_new_dict();
  plist_dict_set_item(contact, "com.apple.syncservices.RecordEntityName", plist_new_string("com.apple.contacts.Contact"));
  plist_dict_set_item(contact, "first name", plist_new_string("Zoë <&>"));
  plist_t entities = plist_new_dict();
  plist_dict_set_item(entities, "host-1", contact);
  int error = -1;
  auto remap = PushRecords(session_, kContacts, 106, entities, &error);
  ASSERT_EQ(error, 0) << vd_.ServerLog();
  ASSERT_EQ(remap.count("host-1"), 1u);
  const std::string device_id = remap["host-1"];
  MobileSyncReading after = ReadAllRecords(session_, kContacts, 106);
  ASSERT_EQ(after.records.count(device_id), 1u);
  EXPECT_NE(after.records[device_id].find("Zoë &lt;&amp;&gt;"), std::string::npos);
  EXPECT_EQ(StoredRecords(), 39u);

  plist_t deletion = plist_new_dict();
  plist_dict_set_item(deletion, device_id.c_str(), plist_new_string("___EmptyParameterString___"));
  PushRecords(session_, kContacts, 106, deletion, &error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(ReadAllRecords(session_, kContacts, 106).records.count(device_id), 0u);
  EXPECT_EQ(StoredRecords(), 38u);
}

plist_t Record(const char* entity, std::initializer_list<std::pair<const char*, plist_t>> fields) {
  plist_t record = plist_new_dict();
  plist_dict_set_item(record, "com.apple.syncservices.RecordEntityName", plist_new_string(entity));
  for (const auto& field : fields) plist_dict_set_item(record, field.first, field.second);
  return record;
}

plist_t Strings(std::initializer_list<std::string> items) {
  plist_t array = plist_new_array();
  for (const std::string& item : items) plist_array_append_item(array, plist_new_string(item.c_str()));
  return array;
}

plist_t Entities(const std::string& id, plist_t record) {
  plist_t entities = plist_new_dict();
  plist_dict_set_item(entities, id.c_str(), record);
  return entities;
}

TEST_F(MobileSyncServiceTest, WriteFlowRemapsDependentsAndGroupsAndReadsBack) {
  Serve([](rapidjson::Document&) {});
  int error = -1;
  Remap remap = PushSteps(
      session_, kContacts, 106,
      {[](const Remap&) {
         return Entities("host-1", Record("com.apple.contacts.Contact", {{"first name", plist_new_string("Zoë")}}));
       },
       [](const Remap& so_far) {
         return Entities("phone-1", Record("com.apple.contacts.Phone Number",
                                           {{"value", plist_new_string("+44 20 7946 0000")},
                                            {"contact", Strings({so_far.at("host-1"), "1"})}}));
       },
       [](const Remap& so_far) {
         return Entities("Group/g1", Record("com.apple.contacts.Group",
                                            {{"name", plist_new_string("Climbing")}, {"members", Strings({so_far.at("host-1")})}}));
       },
       // A change of a stored group by its device identifier, in the computer's "Group/<id>" form.
       [](const Remap&) {
         return Entities("Group/group/1", Record("com.apple.contacts.Group",
                                                 {{"name", plist_new_string("Kin")}, {"members", Strings({"2"})}}));
       }},
      &error);
  ASSERT_EQ(error, 0) << vd_.ServerLog();
  ASSERT_EQ(remap.size(), 4u);
  const std::string contact = remap["host-1"];
  const std::string phone = remap["phone-1"];
  const std::string group = remap["Group/g1"];
  EXPECT_EQ(remap["Group/group/1"], "group/1");
  EXPECT_TRUE(contact != phone && phone != group && !contact.empty());

  MobileSyncReading after = ReadAllRecords(session_, kContacts, 106);
  ASSERT_EQ(after.error, 0);
  EXPECT_EQ(after.records.size(), 41u);
  EXPECT_NE(after.records[contact].find("Zoë"), std::string::npos);
  EXPECT_NE(after.records[phone].find("<string>" + contact + "</string>"), std::string::npos);
  EXPECT_NE(after.records[group].find("Climbing"), std::string::npos);
  EXPECT_NE(after.records["group/1"].find("Kin"), std::string::npos);
  EXPECT_EQ(StoredRecords(), 41u);

  // Deleting the contact takes the phone number it alone owned and leaves the groups' members;
  // the phone number's other owner keeps its own records.
  PushRecords(session_, kContacts, 106, Entities(contact, plist_new_string("___EmptyParameterString___")), &error);
  ASSERT_EQ(error, 0);
  MobileSyncReading deleted = ReadAllRecords(session_, kContacts, 106);
  EXPECT_EQ(deleted.records.count(contact), 0u);
  EXPECT_EQ(deleted.records.count(phone), 1u) << "still owned by contact 1";
  EXPECT_EQ(deleted.records[group].find("<string>" + contact + "</string>"), std::string::npos);
  PushRecords(session_, kContacts, 106, Entities("1", plist_new_string("___EmptyParameterString___")), &error);
  MobileSyncReading second = ReadAllRecords(session_, kContacts, 106);
  EXPECT_EQ(second.records.count(phone), 0u);
  EXPECT_EQ(second.records.count("phone/1"), 0u);
  EXPECT_EQ(second.records.count("email/1"), 0u);
  EXPECT_EQ(second.records.size(), 36u);
}

TEST_F(MobileSyncServiceTest, ChangesBeforeTheDeviceIsReadyCancelTheSession) {
  Serve([](rapidjson::Document&) {});
  plist_t push = plist_new_array();
  plist_array_append_item(push, plist_new_string("SDMessageProcessChanges"));
  plist_array_append_item(push, plist_new_string(kContacts));
  plist_array_append_item(push, Entities("host-1", Record("com.apple.contacts.Contact", {})));
  plist_array_append_item(push, plist_new_bool(0));
  int error = -1;
  std::vector<std::string> answer = AnnounceAndSend(session_, kContacts, push, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(answer, (std::vector<std::string>{"SDMessageCancelSession", "Not ready to receive changes"}));
  EXPECT_EQ(StoredRecords(), 38u);
}

TEST_F(MobileSyncServiceTest, DataSyncEntryWithoutLocalSourceRefusesAndCancelledClassesCancel) {
  profile_ = vd_.MakeProfile("demo");
  ASSERT_TRUE(VdeviceFixture::EditDeviceJson(profile_, [](rapidjson::Document& device) {
    device["lockdown"]["com.apple.mobile.data_sync"]["Contacts"]["Sources"].Clear();
  }));
  ASSERT_TRUE(VdeviceFixture::EditJson(profile_ + "/mobilesync/settings.json", [](rapidjson::Document& settings) {
    rapidjson::Value cancelled(rapidjson::kArrayType);
    cancelled.PushBack("com.apple.Calendars", settings.GetAllocator());
    settings.AddMember("cancelled", cancelled, settings.GetAllocator());
  }));
  ASSERT_TRUE(vd_.Start({profile_})) << vd_.ServerLog();
  vd_.ExportSocketAddress();
  ASSERT_EQ(session_.Open(VdeviceFixture::ProfileUdid(profile_)), LOCKDOWN_E_SUCCESS);
  MobileSyncReading refused = ReadAllRecords(session_, kContacts, 106);
  EXPECT_EQ(refused.error, MOBILESYNC_E_SYNC_REFUSED);
  EXPECT_EQ(refused.refusal, "No Data Store available");
  MobileSyncReading cancelled = ReadAllRecords(session_, "com.apple.Calendars", 110);
  EXPECT_EQ(cancelled.error, MOBILESYNC_E_CANCELLED);
  EXPECT_EQ(cancelled.refusal, "Sync cancelled by the device");
}

TEST_F(MobileSyncServiceTest, InjectedErrorCancelsTheNextRequestOnly) {
  Serve([](rapidjson::Document&) {});
  ASSERT_TRUE(vd_.Fault(VdeviceFixture::ProfileUdid(profile_), "com.apple.mobilesync", {"error", "Device busy"}));
  MobileSyncReading first = ReadAllRecords(session_, kContacts, 106);
  EXPECT_EQ(first.error, MOBILESYNC_E_CANCELLED);
  EXPECT_EQ(first.refusal, "Device busy");
  EXPECT_EQ(ReadAllRecords(session_, kContacts, 106).records.size(), 38u);
}

}  // namespace
}  // namespace vdevice_test
