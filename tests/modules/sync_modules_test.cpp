// Calendars (1500-1502), notes (1200-1202) and bookmarks (1400-1402) through the front-end link
// against the simulated iPhone's synchronisation service; listings are compared with what
// libimobiledevice's own mobilesync client reads, and every write and delete with a fresh
// listing and the device's record store.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "device_session.h"
#include "iOSAPI/kor_sync_time.h"
#include "mobilesync_reader.h"
#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"
#include "sync_class_stores.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kNotes = "com.apple.Notes";
constexpr const char* kCalendars = "com.apple.Calendars";
constexpr const char* kBookmarks = "com.apple.Bookmarks";

// A whole process-changes message as a front-end writes it: one record under `key`.
std::string ProcessChanges(const std::string& data_class, const std::string& key, const std::string& kind,
                           const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist version=\"1.0\"><array>"
         "<string>SDMessageProcessChanges</string><string>" +
         data_class + "</string><dict><key>" + key +
         "</key><dict><key>com.apple.syncservices.RecordEntityName</key><string>" + kind + "</string>" + body +
         "</dict></dict><false/><dict><key>SyncDeviceLinkEntityNamesKey</key><array><string>" + kind +
         "</string></array><key>SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey</key><true/></dict></array></plist>";
}

class SyncModulesTest : public ModuleTest {
 protected:
  // Starts against a demo phone whose sync settings `settings` edits.
  void Start(const std::function<void(rapidjson::Document&)>& settings = nullptr,
             const std::function<void(const std::string&)>& edit = nullptr) {
    StartWith("demo", [&](const std::string& folder) {
      if (settings) {
        ASSERT_TRUE(vdevice_test::VdeviceFixture::EditJson(folder + "/mobilesync/settings.json", settings));
      }
      if (edit) edit(folder);
    });
    vd.ExportSocketAddress();
  }

  std::vector<frontend::Message> List(uint32_t command) { return Run(command, DeviceJson()); }
  std::vector<frontend::Message> WithParameters(uint32_t command, const std::string& json) {
    return Run(command, DeviceJson(), Compressed(json));
  }

  static int64_t Count(const std::vector<frontend::Message>& messages) {
    for (const auto& message : messages) {
      rapidjson::Document info;
      if (message.stage == 1 && message.info && VelJsonUtil::Parse(*message.info, &info) && info.HasMember("Count")) {
        return info["Count"].GetInt64();
      }
    }
    return -2;
  }
  static std::vector<rapidjson::Document> Data(const std::vector<frontend::Message>& messages) {
    std::vector<rapidjson::Document> parts;
    for (const auto& message : messages) {
      if (message.status == 2 && message.stage == 2) parts.push_back(AttachmentJson(message));
    }
    return parts;
  }
  // The notes of a listing by identifier.
  std::map<std::string, std::string> NoteSubjects() {
    std::map<std::string, std::string> subjects;
    for (const auto& part : Data(List(1200))) {
      for (const auto& note : part.GetArray()) subjects[note["guid"].GetString()] = note["subject"].GetString();
    }
    return subjects;
  }
  // What libimobiledevice's mobilesync client reads of a class.
  vdevice_test::MobileSyncReading StockReading(const std::string& data_class, uint64_t version) {
    vdevice_test::DeviceSession session;
    EXPECT_EQ(session.Open(udid), LOCKDOWN_E_SUCCESS);
    return vdevice_test::ReadAllRecords(session, data_class, version);
  }
  rapidjson::Document Store(const std::string& data_class) {
    rapidjson::Document store;
    std::string text;
    kst::ReadWholeFile(profile + "/mobilesync/" + data_class + ".json", &text);
    VelJsonUtil::Parse(text, &store);
    return store;
  }
};

TEST_F(SyncModulesTest, FortyFiveNotesListAsTwentyTwentyFiveAndMatchTheStockClient) {
  Start(nullptr, [](const std::string& folder) {
    ASSERT_TRUE(kst::WriteWholeFile(folder + "/mobilesync/com.apple.Notes.json", vdevice_fixtures::NoteStoreJson(45)));
  });
  auto messages = List(1200);
  ASSERT_EQ(messages.back().code, 0) << vd.ServerLog();
  EXPECT_EQ(Count(messages), 45);
  std::vector<size_t> sizes;
  std::set<std::string> ids;
  for (const auto& part : Data(messages)) {
    sizes.push_back(part.Size());
    for (const auto& note : part.GetArray()) {
      ids.insert(note["guid"].GetString());
      // Times arrive in UTC and are listed in local time beside the text the device sent.
      EXPECT_EQ(note["dateCreated"].GetString(), KorLocalTimeText(note["dateCreatedSource"].GetString()));
    }
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{20, 20, 5}));
  for (const auto& message : messages) EXPECT_EQ(message.command, 1200u);
  const auto stock = StockReading(kNotes, 102);
  ASSERT_EQ(stock.error, 0);
  std::set<std::string> stock_ids;
  for (const auto& [id, xml] : stock.records) stock_ids.insert(id);
  EXPECT_EQ(ids, stock_ids);
  EXPECT_NE(stock.records.at("5").find("Salt &amp; pepper &lt;5&gt;"), std::string::npos);
  EXPECT_EQ(NoteSubjects()["5"], "Salt & pepper <5>");
}

TEST_F(SyncModulesTest, ANoteWithMarkupArrivesUnchangedWithBothDates) {
  Start();
  const std::string title = "Salt < & pepper";
  const std::string content = "a <b> & \"c\"\nsecond line";
  auto added = WithParameters(1201, VelJsonUtil::ToString([&] {
                                rapidjson::Document p(rapidjson::kObjectType);
                                VelJsonUtil::AddJsonDictStringValue(p, p.GetAllocator(), "id", "host-note-1");
                                VelJsonUtil::AddJsonDictStringValue(p, p.GetAllocator(), "title", title);
                                VelJsonUtil::AddJsonDictStringValue(p, p.GetAllocator(), "content", content);
                                return p;
                              }()));
  ASSERT_EQ(added.back().code, 0) << vd.ServerLog();
  auto parts = Data(added);
  ASSERT_EQ(parts.size(), 1u);
  const std::string guid = parts[0][0]["guid"].GetString();
  EXPECT_NE(guid, "host-note-1");
  EXPECT_EQ(std::string(parts[0][0]["subject"].GetString()), title);

  EXPECT_EQ(NoteSubjects()[guid], title);
  rapidjson::Document store = Store(kNotes);
  const rapidjson::Value& kept = store["records"][guid.c_str()];
  EXPECT_EQ(std::string(kept["subject"].GetString()), title);
  EXPECT_EQ(std::string(kept["content"].GetString()), content);
  EXPECT_TRUE(kept["dateCreated"].HasMember("$date"));
  EXPECT_TRUE(kept["dateModified"].HasMember("$date"));
  EXPECT_EQ(std::string(kept["contentType"].GetString()), "text/plain");
  // Parameters without a title do not parse as an add-note request.
  EXPECT_EQ(WithParameters(1201, R"({"id":"x","content":"y"})").back().code, 8);
}

TEST_F(SyncModulesTest, NotesFromBackupNeedBothPathsAndTheExtractionForwardsThem) {
  Start();
  auto one_key = Run(1202, DeviceJson(R"("info":{"note_db_path":"/tmp/notes.sqlite"})"));
  ASSERT_EQ(one_key.size(), 1u);
  EXPECT_EQ(one_key.back().code, 21);
  // With both paths and no plug-in loaded nothing would answer, so the command ends at once.
  EXPECT_EQ(Run(1202, DeviceJson(R"("info":{"note_db_path":"/a","note_store_db_path":"/b"})")).back().code, 0);

  auto extracted = Run(1608, DeviceJson(R"("info":{"types":[2]})"));
  ASSERT_EQ(extracted.back().code, 0) << vd.ServerLog();
  std::map<std::string, std::string> paths;
  for (const auto& message : extracted) {
    rapidjson::Document info;
    if (message.status != 2 || !message.info || !VelJsonUtil::Parse(*message.info, &info) || !info.IsObject()) continue;
    for (const char* key : {"note_db_path", "note_store_db_path"}) {
      if (info.HasMember(key)) paths[key] = info[key].GetString();
    }
  }
  EXPECT_EQ(fs::path(paths["note_db_path"]).filename(), "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c");
  EXPECT_EQ(fs::path(paths["note_store_db_path"]).filename(), "4f98687d8ab0d6d1a371110e6b7300f6e465bef2");
  EXPECT_TRUE(fs::is_regular_file(paths["note_db_path"]));
  EXPECT_TRUE(fs::is_regular_file(paths["note_store_db_path"]));
}

TEST_F(SyncModulesTest, NotesOfABackupReachTheFrontEndThroughTheNotesPlugin) {
  load_modules = {NOTES_PLUGIN_DIR};
  Start();
  auto extracted = Run(1608, DeviceJson(R"("info":{"types":[2]})"));
  ASSERT_EQ(extracted.back().code, 0) << vd.ServerLog();
  rapidjson::Document paths(rapidjson::kObjectType);
  for (const auto& message : extracted) {
    rapidjson::Document info;
    if (message.status != 2 || !message.info || !VelJsonUtil::Parse(*message.info, &info) || !info.IsObject()) continue;
    for (const auto& member : info.GetObject()) {
      paths.AddMember(rapidjson::Value(member.name, paths.GetAllocator()),
                      rapidjson::Value(member.value, paths.GetAllocator()), paths.GetAllocator());
    }
  }
  ASSERT_TRUE(paths.HasMember("note_db_path") && paths.HasMember("note_store_db_path"));

  auto listed = Run(1202, DeviceJson("\"info\":" + VelJsonUtil::ToString(paths)));
  ASSERT_GE(listed.size(), 2u);
  std::multiset<std::string> subjects;
  for (size_t i = 0; i + 1 < listed.size(); ++i) {
    EXPECT_EQ(listed[i].command, 1202u);
    EXPECT_EQ(listed[i].status, 2);
    EXPECT_EQ(listed[i].stage, 2);
    EXPECT_EQ(listed[i].uuid, udid) << "results name the device, as the command's other messages do";
    rapidjson::Document batch = AttachmentJson(listed[i]);
    ASSERT_TRUE(batch.IsArray());
    for (const auto& note : batch.GetArray()) subjects.insert(note["subject"].GetString());
  }
  // The simulated phone's backup holds the same three notes in both databases.
  EXPECT_EQ(subjects, (std::multiset<std::string>{"Groceries", "Groceries", "Trip ideas", "Trip ideas",
                                                  "Wi-Fi at the cabin", "Wi-Fi at the cabin"}));
  const frontend::Message& final_reply = listed.back();
  EXPECT_EQ(final_reply.status, 1);
  EXPECT_EQ(final_reply.code, 0);
  EXPECT_EQ(final_reply.uuid, udid);
  rapidjson::Document summary;
  ASSERT_TRUE(final_reply.info && VelJsonUtil::Parse(*final_reply.info, &summary));
  EXPECT_EQ(summary["Count"].GetInt(), 6);
  EXPECT_EQ(summary["Damaged"].GetInt(), 0);
}

TEST_F(SyncModulesTest, ARefusedClassEndsPromptlyWithAnEmptyListing) {
  // Notes refused as current systems refuse them; calendars answered with a cancelled session.
  Start([](rapidjson::Document& settings) {
    settings["refused"].PushBack(rapidjson::StringRef(kNotes), settings.GetAllocator());
    rapidjson::Value cancelled(rapidjson::kArrayType);
    cancelled.PushBack(rapidjson::StringRef(kCalendars), settings.GetAllocator());
    settings.RemoveMember("cancelled");
    settings.AddMember("cancelled", cancelled, settings.GetAllocator());
  });
  const auto started = std::chrono::steady_clock::now();
  auto listing = List(1200);
  EXPECT_EQ(listing.back().code, 0);
  // The phone's data_sync settings name an account for notes: the count says -1.
  EXPECT_EQ(Count(listing), -1);
  EXPECT_TRUE(Data(listing).empty());
  EXPECT_EQ(WithParameters(1201, R"({"id":"h","title":"t","content":"c"})").back().code, 30);
  auto calendars = List(1500);
  EXPECT_EQ(calendars.back().code, 0);
  EXPECT_EQ(Count(calendars), -1);
  EXPECT_TRUE(Data(calendars).empty());
  const std::string calendar =
      ProcessChanges(kCalendars, "host-cal", "com.apple.calendars.Calendar", "<key>title</key><string>T</string>");
  rapidjson::Document write(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(write, write.GetAllocator(), "com.apple.calendars.Calendar", calendar);
  EXPECT_EQ(WithParameters(1501, VelJsonUtil::ToString(write)).back().code, 29);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  EXPECT_EQ(StockReading(kNotes, 102).refusal, "No Data Store available");
}

TEST_F(SyncModulesTest, CalendarsListWithEventsAlarmsAndRecurrenceInLocalTime) {
  environment["TZ"] = "XST-2";  // two hours east of UTC
  Start();
  auto messages = List(1500);
  ASSERT_EQ(messages.back().code, 0) << vd.ServerLog();
  EXPECT_EQ(Count(messages), 2);
  auto parts = Data(messages);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(Keys(parts[0]), (std::vector<std::string>{"1", "8"}));
  const rapidjson::Value& home = parts[0]["1"];
  EXPECT_EQ(std::string(home["title"].GetString()), "Home");
  ASSERT_EQ(home["events"].Size(), 3u);
  const rapidjson::Value& dentist = home["events"][0];
  EXPECT_EQ(std::string(dentist["start_date_source"].GetString()), "2026-01-10T09:30:00Z");
  EXPECT_EQ(std::string(dentist["start_date"].GetString()), "2026-01-10 11:30:00");
  EXPECT_EQ(dentist["display_alarms"].Size(), 2u);
  EXPECT_EQ(std::string(dentist["description"].GetString()), "Dentist & notes <kept>");
  const rapidjson::Value& birthday = home["events"][2];
  EXPECT_EQ(std::string(birthday["all_day"].GetString()), "true");
  EXPECT_EQ(std::string(birthday["recurrence"]["frequency"].GetString()), "yearly");
  EXPECT_EQ(std::string(birthday["recurrence"]["interval"].GetString()), "1");
  EXPECT_EQ(std::string(birthday["recurrence"]["until_source"].GetString()), "2026-12-31T00:00:00Z");
  EXPECT_EQ(std::string(birthday["recurrence"]["until"].GetString()), "2026-12-31 02:00:00");
  EXPECT_TRUE(birthday["display_alarms"].Empty());
  // The stock client reads the same calendars, events, alarms and recurrences.
  const auto stock = StockReading(kCalendars, 110);
  ASSERT_EQ(stock.error, 0);
  size_t events = 0;
  const rapidjson::Value& listed = parts[0];
  for (const auto& calendar : listed.GetObject()) {
    EXPECT_EQ(stock.records.count(calendar.name.GetString()), 1u);
    for (const auto& event : calendar.value["events"].GetArray()) {
      ++events;
      EXPECT_NE(stock.records.at(event["id"].GetString()).find(event["summary"].GetString()), std::string::npos);
    }
  }
  EXPECT_EQ(events, 6u);
}

TEST_F(SyncModulesTest, AnEventWriteIsRemappedListedAndDeleted) {
  Start();
  rapidjson::Document write(rapidjson::kObjectType);
  auto add = [&write](const char* kind, const std::string& text) {
    VelJsonUtil::AddJsonDictStringValue(write, write.GetAllocator(), kind, text);
  };
  add("com.apple.calendars.Calendar",
      ProcessChanges(kCalendars, "host-cal", "com.apple.calendars.Calendar", "<key>title</key><string>Trips</string>"));
  add("com.apple.calendars.Event",
      ProcessChanges(kCalendars, "host-event", "com.apple.calendars.Event",
                     "<key>summary</key><string>Flight &lt;LH&gt; &amp; hotel</string><key>start date</key>"
                     "<date>2026-08-01T07:00:00Z</date><key>calendar</key><array><string>host-cal</string></array>"));
  add("com.apple.calendars.DisplayAlarm",
      ProcessChanges(kCalendars, "host-alarm", "com.apple.calendars.DisplayAlarm",
                     "<key>triggerduration</key><string>-PT1H</string><key>owner</key><array><string>host-event</string>"
                     "</array>"));
  auto written = WithParameters(1501, VelJsonUtil::ToString(write));
  ASSERT_EQ(written.back().code, 0) << vd.ServerLog();
  auto remap = Data(written);
  ASSERT_EQ(remap.size(), 1u);
  EXPECT_EQ(Keys(remap[0]), (std::vector<std::string>{"com.apple.calendars.Calendar", "com.apple.calendars.Event",
                                                      "com.apple.calendars.DisplayAlarm"}));
  const std::string calendar = remap[0]["com.apple.calendars.Calendar"]["host-cal"].GetString();
  const std::string event = remap[0]["com.apple.calendars.Event"]["host-event"].GetString();

  auto listed = Data(List(1500));
  ASSERT_EQ(listed.size(), 1u);
  ASSERT_TRUE(listed[0].HasMember(calendar.c_str()));
  const rapidjson::Value& events = listed[0][calendar.c_str()]["events"];
  ASSERT_EQ(events.Size(), 1u);
  EXPECT_EQ(std::string(events[0]["id"].GetString()), event);
  EXPECT_EQ(std::string(events[0]["summary"].GetString()), "Flight <LH> & hotel");
  EXPECT_EQ(events[0]["display_alarms"].Size(), 1u);

  EXPECT_EQ(WithParameters(1502, R"({"id":")" + event + R"("})").back().code, 0);
  listed = Data(List(1500));
  EXPECT_TRUE(listed[0][calendar.c_str()]["events"].Empty());
  EXPECT_FALSE(Store(kCalendars)["records"].HasMember(event.c_str()));

  // An event for a calendar the device gives no identifier to ends with 29.
  rapidjson::Document event_only(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(event_only, event_only.GetAllocator(), "com.apple.calendars.Event",
                                      write["com.apple.calendars.Event"].GetString());
  EXPECT_EQ(WithParameters(1501, VelJsonUtil::ToString(event_only)).back().code, 29);
}

TEST_F(SyncModulesTest, BookmarksListAsATreeAndAreWrittenAndDeleted) {
  Start();
  auto messages = List(1400);
  ASSERT_EQ(messages.back().code, 0) << vd.ServerLog();
  EXPECT_EQ(Count(messages), 5);
  auto nodes = Data(messages);
  ASSERT_EQ(nodes.size(), 2u);
  const rapidjson::Value& favorites = nodes[0];
  EXPECT_EQ(std::string(favorites["name"].GetString()), "Favorites");
  ASSERT_EQ(favorites["children"].Size(), 3u);
  EXPECT_EQ(std::string(favorites["children"][1]["name"].GetString()), "Search & <find>");
  EXPECT_EQ(std::string(favorites["children"][2]["name"].GetString()), "Reading");
  EXPECT_TRUE(favorites["children"][2]["children"].IsArray());
  EXPECT_TRUE(favorites["children"][2]["children"].Empty());
  EXPECT_EQ(favorites["children"][2]["position"].GetInt64(), 2);
  EXPECT_EQ(std::string(nodes[1]["url"].GetString()), "https://weather.example.net/");
  EXPECT_EQ(StockReading(kBookmarks, 102).records.size(), 5u);

  const std::string text =
      ProcessChanges(kBookmarks, "host-bm", "com.apple.bookmarks.Bookmark",
                     "<key>name</key><string>News &amp; more</string><key>url</key><string>https://news.example/?a=1&amp;b=2"
                     "</string><key>parent</key><array><string>1</string></array><key>position</key><integer>3</integer>");
  auto written = Run(1401, DeviceJson(), Compressed(text));
  ASSERT_EQ(written.back().code, 0) << vd.ServerLog();
  auto remap = Data(written);
  ASSERT_EQ(remap.size(), 1u);
  const std::string added = remap[0][kBookmarks]["host-bm"].GetString();
  nodes = Data(List(1400));
  ASSERT_EQ(nodes[0]["children"].Size(), 4u);
  EXPECT_EQ(std::string(nodes[0]["children"][3]["id"].GetString()), added);
  EXPECT_EQ(std::string(nodes[0]["children"][3]["url"].GetString()), "https://news.example/?a=1&b=2");
  // Text that is no process-changes message is refused before anything is sent.
  EXPECT_EQ(Run(1401, DeviceJson(), Compressed("{\"not\":\"xml\"}")).back().code, 8);

  EXPECT_EQ(WithParameters(1402, R"({"id":"4"})").back().code, 0);
  nodes = Data(List(1400));
  ASSERT_EQ(nodes[0]["children"].Size(), 3u);
  for (const auto& child : nodes[0]["children"].GetArray()) EXPECT_STRNE(child["id"].GetString(), "4");
  EXPECT_EQ(Store(kBookmarks)["records"].MemberCount(), 5u);
}

TEST_F(SyncModulesTest, ADeadConnectionMidSequenceEndsWithTheCommandsCode) {
  Start();
  // Each fault closes the next service connection once the device has sent that many bytes:
  // after the greeting, in the middle of the first batch.
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"drop", "400"}));
  auto listing = List(1200);
  EXPECT_EQ(listing.back().code, 0);
  EXPECT_TRUE(Data(listing).empty());
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"drop", "400"}));
  EXPECT_EQ(WithParameters(1201, R"({"id":"h","title":"t","content":"c"})").back().code, 30);
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"drop", "400"}));
  const std::string calendar =
      ProcessChanges(kCalendars, "host-cal", "com.apple.calendars.Calendar", "<key>title</key><string>T</string>");
  EXPECT_EQ(WithParameters(1501, R"({"com.apple.calendars.Calendar":)" + VelJsonUtil::ToString(rapidjson::Value(
                                     calendar.c_str(), static_cast<rapidjson::SizeType>(calendar.size()))) + "}")
                .back()
                .code,
            29);
  ASSERT_TRUE(vd.Fault(udid, "com.apple.mobilesync", {"drop", "0"}));
  EXPECT_EQ(List(1400).back().code, 0);
  // The device is whole again afterwards.
  EXPECT_EQ(Count(List(1400)), 5);
}

}  // namespace
