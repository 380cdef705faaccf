// The calendar, note and bookmark modules' reading of device replies and the texts they push:
// calendar records linked to their owners whatever their order, bookmark trees from "parent",
// the note a write pushes, and process-changes texts the front-end supplies.
#include <gtest/gtest.h>

#include <thread>

#include "framework_environment.h"
#include "iOSAPI/kor_plist_xml.h"

#include "iOSAPI/kor_sync_push_text.h"
#include "iOSAPI/kor_sync_sequence.h"
#include "iOSAPI/kor_xml_value.h"
#include "utility/kor_sync_command.h"
#include "utility/module/bookmark/kor_bookmark_tree.h"
#include "utility/module/calendar/kor_calendar_collection.h"
#include "utility/module/note/kor_note_collection.h"
#include "utility/module/note/kor_note_write.h"
#include "scripted_device.h"
#include "zone_guard.h"

namespace {

KorValue Record(std::initializer_list<std::pair<const char*, KorValue>> fields) {
  auto dict = CIOSDictionary::Create();
  for (const auto& [key, value] : fields) dict->Set(key, value);
  return KorValue::MakeDictionary(dict);
}

KorValue Ids(std::initializer_list<const char*> ids) {
  KorValue::Array items;
  for (const char* id : ids) items.push_back(KorValue::String(id));
  return KorValue::MakeArray(items);
}

KorValue Kind(const char* kind) { return KorValue::String(kind); }
constexpr const char* kEntity = "com.apple.syncservices.RecordEntityName";

KorValue Batch(std::initializer_list<std::pair<const char*, KorValue>> records) {
  return KorValue::MakeArray({KorValue::String("SDMessageProcessChanges"), KorValue::String("com.apple.Calendars"),
                              Record(records), KorValue::Bool(false)});
}

std::vector<KorSyncRecord> Records(std::initializer_list<std::pair<const char*, KorValue>> records) {
  std::vector<KorSyncRecord> out;
  KorSyncCollectRecords(KorValue::MakeArray({Record(records)}), &out);
  return out;
}

std::string Document(const std::string& data_class, const std::string& elements) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array><string>SDMessageProcessChanges"
         "</string><string>" + data_class + "</string>" + elements + "</array></plist>";
}

TEST(CalendarCollectionTest, EventsAlarmsAndRecurrencesJoinTheirOwnersAcrossBatches) {
  ZoneGuard zone("XST-2");
  KorCalendarCollection collection;
  bool again = false;
  int32_t result = 0;
  // The alarms and the event arrive before their calendar, in a batch of their own.
  collection.OnReply(kKorSyncStateMoreBatches,
                     Batch({{"a1", Record({{kEntity, Kind(kKorAlarmKind)}, {"triggerduration", KorValue::String("-PT5M")},
                                           {"owner", Ids({"e1"})}})},
                            {"a2", Record({{kEntity, Kind(kKorAlarmKind)}, {"owner", Ids({"e1"})}})},
                            {"e1", Record({{kEntity, Kind(kKorEventKind)}, {"calendar", Ids({"c1"})},
                                           {"all day", KorValue::Bool(true)},
                                           {"start date", KorValue::String("2021-05-01T10:00:00Z")},
                                           {"end date", KorValue::String("2021-13-01T10:00:00Z")}})}}),
                     &again, &result);
  EXPECT_EQ(result, 1);  // a further batch keeps the acknowledgement loop going
  collection.OnReply(kKorSyncStateCollect,
                     Batch({{"c1", Record({{kEntity, Kind(kKorCalendarKind)}, {"title", KorValue::String("Home")},
                                           {"read only", KorValue::Bool(false)}})},
                            {"r1", Record({{kEntity, Kind(kKorRecurrenceKind)}, {"owner", Ids({"e1"})},
                                           {"frequency", KorValue::String("weekly")}, {"interval", KorValue::Int64(2)}})},
                            {"orphan", Record({{kEntity, Kind(kKorEventKind)}, {"calendar", Ids({"gone"})}})}}),
                     &again, &result);
  const rapidjson::Document calendars = collection.Calendars();
  ASSERT_EQ(calendars.MemberCount(), 1u);
  const rapidjson::Value& home = calendars["c1"];
  EXPECT_STREQ(home["read_only"].GetString(), "false");
  ASSERT_EQ(home["events"].Size(), 1u);
  const rapidjson::Value& event = home["events"][0];
  EXPECT_STREQ(event["start_date"].GetString(), "2021-05-01 12:00:00");
  EXPECT_STREQ(event["start_date_source"].GetString(), "2021-05-01T10:00:00Z");
  EXPECT_STREQ(event["end_date"].GetString(), "");  // a month 13 does not convert
  EXPECT_STREQ(event["all_day"].GetString(), "true");
  EXPECT_EQ(event["display_alarms"].Size(), 2u);
  EXPECT_STREQ(event["recurrence"]["frequency"].GetString(), "weekly");
  EXPECT_STREQ(event["recurrence"]["interval"].GetString(), "2");
  EXPECT_STREQ(event["id"].GetString(), "e1");
}

TEST(CalendarCollectionTest, EachPushStateKeepsTheRemapOfItsKind) {
  KorCalendarCollection collection;
  bool again = false;
  int32_t result = 0;
  auto remap = [](const char* host, const char* device) {
    return KorValue::MakeArray({KorValue::String("SDMessageRemapRecordIdentifiers"), Record({{host, KorValue::String(device)}})});
  };
  collection.OnReply(kKorCalendarStateCalendar, remap("hc", "11"), &again, &result);
  collection.OnReply(kKorCalendarStateEvent, remap("he", "12"), &again, &result);
  collection.OnReply(kKorCalendarStateDelete, remap("x", "13"), &again, &result);
  EXPECT_EQ(collection.Remap(kKorCalendarStateCalendar).at("hc"), "11");
  EXPECT_EQ(collection.Remap(kKorCalendarStateEvent).at("he"), "12");
  EXPECT_TRUE(collection.Remap(kKorCalendarStateAlarm).empty());
  EXPECT_EQ(collection.RemapJson(),
            R"({"com.apple.calendars.Calendar":{"hc":"11"},"com.apple.calendars.Event":{"he":"12"}})");
}

// A device that assigns the calendar no identifier (here: one that has gone) ends the write after
// the calendar's push: no event, alarm or recurrence is pushed and no finish is sent.
TEST(CalendarCollectionTest, AWriteEndsAfterACalendarWithoutIdentifier) {
  REQUIRE_FRAMEWORK();
  ScriptedDevice device;
  std::vector<int> states;
  KorCalendarCollection replies;
  std::thread host([&, io = device.HostIo()] {
    KorSyncSession session(io, kKorSyncCalendars, &replies);
    KorRunSyncSequence(session, kKorSyncCalendarsWrite, "2027-01-01 09:03:04 +0100",
                       [&](int state, std::vector<std::string>* elements) {
                         states.push_back(state);
                         if (state == kKorCalendarStateCalendar) replies.NoteCalendarStep();
                         elements->push_back(KorPlistDict({{"h", KorPlistDict({})}}));
                         return true;
                       });
  });
  device.Send({KorPlistString("DLMessageVersionExchange"), KorPlistInteger(300), KorPlistInteger(100)});
  device.Read();
  device.Hangup();
  host.join();
  EXPECT_EQ(states, std::vector<int>{kKorCalendarStateCalendar});
  EXPECT_TRUE(replies.EndsSession());
}

TEST(BookmarkTreeTest, AFolderWithTwoBookmarksAndAnEmptyFolderIsOneNodeWithThreeChildren) {
  const KorValue bookmark = Kind("com.apple.bookmarks.Bookmark");
  const KorValue folder = Kind("com.apple.bookmarks.Folder");
  rapidjson::Document tree = KorBookmarkTree(Records(
      {{"b2", Record({{kEntity, bookmark}, {"name", KorValue::String("Two")}, {"parent", Ids({"f"})}, {"position", KorValue::Int64(2)}})},
       {"b1", Record({{kEntity, bookmark}, {"url", KorValue::String("https://a/")}, {"parent", Ids({"f"})},
                      {"position", KorValue::Int64(0)}})},
       {"f", Record({{kEntity, folder}, {"name", KorValue::String("Favorites")}})},
       {"sub", Record({{kEntity, folder}, {"parent", Ids({"f"})}, {"position", KorValue::Int64(1)}})},
       {"lost", Record({{kEntity, bookmark}, {"parent", Ids({"nowhere"})}})},
       {"self", Record({{kEntity, folder}, {"parent", Ids({"self"})}})}}));
  // Records whose parent is missing, or themselves, sit at the top level.
  ASSERT_EQ(tree.Size(), 3u);
  const rapidjson::Value& favorites = tree[0];
  EXPECT_STREQ(favorites["id"].GetString(), "f");
  ASSERT_EQ(favorites["children"].Size(), 3u);
  EXPECT_STREQ(favorites["children"][0]["id"].GetString(), "b1");
  EXPECT_STREQ(favorites["children"][0]["url"].GetString(), "https://a/");
  EXPECT_STREQ(favorites["children"][1]["id"].GetString(), "sub");
  EXPECT_STREQ(favorites["children"][2]["name"].GetString(), "Two");
  for (const auto& child : favorites["children"].GetArray()) {
    EXPECT_TRUE(child["children"].IsArray() && child["children"].Empty());
  }
  EXPECT_EQ(favorites["children"][2]["position"].GetInt64(), 2);
}

TEST(BookmarkTreeTest, ADeepChainStopsAtTheDepthBoundAndACycleIsLeftOut) {
  std::vector<KorSyncRecord> records;
  for (int i = 0; i < 200; ++i) {
    auto dict = CIOSDictionary::Create();
    if (i > 0) dict->Set("parent", Ids({std::to_string(i - 1).c_str()}));
    records.push_back({std::to_string(i), KorValue::MakeDictionary(dict)});
  }
  for (const char* pair : {"x", "y"}) {
    auto dict = CIOSDictionary::Create();
    dict->Set("parent", KorValue::String(std::string(pair) == "x" ? "y" : "x"));
    records.push_back({pair, KorValue::MakeDictionary(dict)});
  }
  rapidjson::Document tree = KorBookmarkTree(records);
  ASSERT_EQ(tree.Size(), 1u);
  int depth = 1;
  for (const rapidjson::Value* node = &tree[0]; !(*node)["children"].Empty(); node = &(*node)["children"][0]) ++depth;
  EXPECT_EQ(depth, kKorBookmarkMaxDepth);
}

TEST(NoteWriteTest, TheNewNoteCarriesEscapedTextAndBothDates) {
  const auto elements = KorNewNoteElements("host<1>", "a < b & c", "x&y", "2026-03-09T06:05:07Z");
  ASSERT_EQ(elements.size(), 3u);
  KorValue record;
  ASSERT_TRUE(KorXmlTextToValue("<plist version=\"1.0\">" + elements[0] + "</plist>", &record));
  const KorValue note = record.AsDictionary()->Get("host<1>");
  ASSERT_TRUE(note.IsDictionary());
  EXPECT_EQ(note.AsDictionary()->Get("subject").AsString(), "a < b & c");
  EXPECT_EQ(note.AsDictionary()->Get("content").AsString(), "x&y");
  EXPECT_EQ(note.AsDictionary()->Get("dateCreated").AsString(), "2026-03-09T06:05:07Z");
  EXPECT_EQ(note.AsDictionary()->Get("dateModified").AsString(), "2026-03-09T06:05:07Z");
  EXPECT_EQ(elements[1], "<false/>");
  EXPECT_NE(elements[2].find("SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey</key><true/>"), std::string::npos);
}

TEST(NoteCollectionTest, NotesAreTakenInOrderAndAPushReplyGivesTheNewIdentifier) {
  ZoneGuard zone("XST-2");
  KorNoteCollection collection;
  bool again = false;
  int32_t result = 0;
  collection.OnReply(kKorSyncStateCollect,
                     Batch({{"2", Record({{"subject", KorValue::String("b")}, {"dateCreated", KorValue::String("2021-05-01T10:00:00Z")},
                                          {"author", KorValue::Int64(3)}})},
                            {"1", KorValue::String("not a record")}}),
                     &again, &result);
  ASSERT_EQ(collection.Notes().size(), 1u);
  EXPECT_EQ(KorNoteJson(collection.Notes()[0]),
            R"({"guid":"2","subject":"b","author":"","content":"","dateCreated":"2021-05-01 12:00:00",)"
            R"("dateCreatedSource":"2021-05-01T10:00:00Z","dateModified":"","dateModifiedSource":"","contentType":"",)"
            R"("com_apple_syncservices_RecordEntityName":""})");
  collection.SetLookupKey("host-1");
  collection.OnReply(1, KorValue::MakeArray({KorValue::String("SDMessageRemapRecordIdentifiers"),
                                             Record({{"other", KorValue::String("8")}, {"host-1", KorValue::String("9")}})}),
                     &again, &result);
  EXPECT_EQ(collection.FoundId(), "9");
  EXPECT_EQ(collection.Notes().size(), 1u);
}

TEST(SyncPushTextTest, OnlyAProcessChangesDocumentOfTheClassGivesElements) {
  std::vector<std::string> elements;
  const std::string records = "<dict><key>h</key><dict><key>name</key><string>a &amp; &lt;b&gt;</string></dict></dict>";
  ASSERT_TRUE(KorSyncPushElements(Document("com.apple.Bookmarks", records + "<false/>"), "com.apple.Bookmarks", &elements));
  ASSERT_EQ(elements.size(), 2u);
  KorValue record;
  ASSERT_TRUE(KorXmlTextToValue("<plist version=\"1.0\">" + elements[0] + "</plist>", &record));
  EXPECT_EQ(record.AsDictionary()->Get("h").AsDictionary()->Get("name").AsString(), "a & <b>");
  EXPECT_EQ(elements[1], "<false/>");

  EXPECT_FALSE(KorSyncPushElements(Document("com.apple.Notes", records), "com.apple.Bookmarks", &elements));
  EXPECT_FALSE(KorSyncPushElements(Document("com.apple.Bookmarks", ""), "com.apple.Bookmarks", &elements));
  EXPECT_FALSE(KorSyncPushElements("{\"json\":1}", "com.apple.Bookmarks", &elements));
  EXPECT_FALSE(KorSyncPushElements(Document("com.apple.Bookmarks", "<dict>"), "com.apple.Bookmarks", &elements));
  EXPECT_FALSE(KorSyncPushElements(std::string(kKorMaxPushText + 1, ' '), "com.apple.Bookmarks", &elements));
  std::string deep = "<array>";
  for (int i = 0; i < 200; ++i) deep = "<array>" + deep + "</array>";
  EXPECT_FALSE(KorSyncPushElements(Document("com.apple.Bookmarks", deep), "com.apple.Bookmarks", &elements));
}

TEST(SyncPushTextTest, HostIdentifiersAreReplacedEverywhereAndDeletionsNameOneRecord) {
  EXPECT_EQ(KorReplaceAll("h1 h1x h1", "h1", "h1h1"), "h1h1 h1h1x h1h1");
  EXPECT_EQ(KorReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(KorSyncDeletionElements("4&5"),
            std::vector<std::string>{"<dict><key>4&amp;5</key><string>___EmptyParameterString___</string></dict>"});
}

}  // namespace
