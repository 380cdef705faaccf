// The contact module's reading of record batches: dependent records attached to every contact
// they name, device times shown in local time, groups with their string members.
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "iOSAPI/kor_sync_sequence.h"
#include "utility/module/contact/kor_contact_collection.h"
#include "zone_guard.h"

namespace {

KorValue Record(std::initializer_list<std::pair<const char*, KorValue>> fields) {
  auto dict = CIOSDictionary::Create();
  for (const auto& [key, value] : fields) dict->Set(key, value);
  return KorValue::MakeDictionary(dict);
}

KorValue Strings(std::initializer_list<const char*> texts) {
  KorValue::Array items;
  for (const char* text : texts) items.push_back(KorValue::String(text));
  return KorValue::MakeArray(items);
}

std::string Json(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

// One ProcessChanges reply holding `records`.
KorValue Batch(std::initializer_list<std::pair<const char*, KorValue>> records) {
  return KorValue::MakeArray({KorValue::String("SDMessageProcessChanges"), KorValue::String("com.apple.Contacts"),
                              Record(records), KorValue::Bool(false)});
}

const KorValue kContactKind = KorValue::String("com.apple.contacts.Contact");

TEST(ContactCollectionTest, DependentRecordJoinsEveryContactItNames) {
  KorContactCollection collection;
  bool again = false;
  int32_t result = 0;
  collection.OnReply(kKorSyncStateCollect,
                     Batch({{"1", Record({{"com.apple.syncservices.RecordEntityName", kContactKind},
                                          {"first name", KorValue::String("Ann")}})},
                            {"2", Record({{"com.apple.syncservices.RecordEntityName", kContactKind}})}}),
                     &again, &result);
  EXPECT_EQ(result, 0);
  collection.OnReply(kKorSyncStateMoreBatches,
                     Batch({{"p1", Record({{"com.apple.syncservices.RecordEntityName",
                                            KorValue::String("com.apple.contacts.Phone Number")},
                                           {"value", KorValue::String("+1 555")},
                                           {"position", KorValue::Int32(3)},
                                           {"contact", Strings({"1", "2", "9"})}})}}),
                     &again, &result);
  EXPECT_EQ(result, 1);  // a further batch keeps the acknowledgement loop going
  EXPECT_EQ(Json(collection.Contacts()),
            "{\"1\":{\"com.apple.syncservices.RecordEntityName\":\"com.apple.contacts.Contact\",\"first name\":\"Ann\","
            "\"com.apple.contacts.Phone Number\":[{\"id\":\"p1\",\"com.apple.syncservices.RecordEntityName\":"
            "\"com.apple.contacts.Phone Number\",\"position\":\"3\",\"value\":\"+1 555\"}]},"
            "\"2\":{\"com.apple.syncservices.RecordEntityName\":\"com.apple.contacts.Contact\","
            "\"com.apple.contacts.Phone Number\":[{\"id\":\"p1\",\"com.apple.syncservices.RecordEntityName\":"
            "\"com.apple.contacts.Phone Number\",\"position\":\"3\",\"value\":\"+1 555\"}]}}");
}

TEST(ContactCollectionTest, GroupsKeepStringMembersAndOtherStatesCollectNothing) {
  KorContactCollection collection;
  bool again = false;
  int32_t result = 0;
  const KorValue group = Batch({{"g1", Record({{"com.apple.syncservices.RecordEntityName",
                                               KorValue::String("com.apple.contacts.Group")},
                                              {"name", KorValue::String("A & <B>")},
                                              {"members", KorValue::MakeArray({KorValue::String("1"), KorValue::Int32(2),
                                                                               KorValue::String("3")})}})}});
  collection.OnReply(10, group, &again, &result);
  EXPECT_EQ(Json(collection.Groups()), "{}");
  collection.OnReply(kKorSyncStateCollect, group, &again, &result);
  EXPECT_EQ(Json(collection.Groups()),
            "{\"g1\":{\"com.apple.syncservices.RecordEntityName\":\"com.apple.contacts.Group\",\"name\":\"A & <B>\","
            "\"members\":[\"1\",\"3\"]}}");
}

TEST(ContactCollectionTest, DeviceTimesAreShownInLocalTime) {
  ZoneGuard zone("CET-1");
  EXPECT_EQ(KorLocalTimeText("2027-01-01T08:03:04Z"), "2027-01-01 09:03:04");
  EXPECT_EQ(KorLocalTimeText("2027-12-31T23:30:00Z"), "2028-01-01 00:30:00");
  EXPECT_EQ(KorLocalTimeText("2027-02-30T08:03:04Z"), "");
  EXPECT_EQ(KorLocalTimeText("2027-01-01 08:03:04"), "2027-01-01 08:03:04");
}

}  // namespace
