// The note listing over generated databases of both generations, seen as the front-end sees it:
// batches of JSON note objects, then a code and a summary.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "kor_note_list.h"
#include "kor_note_record.h"
#include "notes_db.h"

namespace {

namespace fs = std::filesystem;
using vdevice_fixtures::NotesDatabaseOptions;

struct Listing {
  KorNoteListResult result;
  std::vector<size_t> batch_sizes;
  rapidjson::Document notes{rapidjson::kArrayType};  // every note of every batch, in order
  rapidjson::Document info;

  // The note with this subject from this database, or null.
  const rapidjson::Value* Find(const std::string& subject, const std::string& source) const {
    for (const rapidjson::Value& note : notes.GetArray()) {
      if (subject == note["subject"].GetString() && source == note["source"].GetString()) return &note;
    }
    return nullptr;
  }
  std::vector<std::string> Subjects(const std::string& source) const {
    std::vector<std::string> subjects;
    for (const rapidjson::Value& note : notes.GetArray()) {
      if (source == note["source"].GetString()) subjects.emplace_back(note["subject"].GetString());
    }
    return subjects;
  }
};

class NoteListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    char pattern[] = "/tmp/note_list_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  KorNoteListRequest Write(const NotesDatabaseOptions& options) {
    KorNoteListRequest request{folder_ + "/notes.sqlite", folder_ + "/NoteStore.sqlite"};
    std::string error;
    EXPECT_TRUE(vdevice_fixtures::WriteLegacyNotesDatabase(request.note_db_path, options, &error)) << error;
    EXPECT_TRUE(vdevice_fixtures::WriteNoteStoreDatabase(request.note_store_db_path, options, &error)) << error;
    return request;
  }

  // Lists through a sender that answers `refuse_from` (6) from that batch on (0: never).
  static Listing List(const KorNoteListRequest& request, size_t refuse_from = 0) {
    Listing listing;
    auto& allocator = listing.notes.GetAllocator();
    listing.result = KorListNotes(request, [&](std::string_view json) {
      listing.batch_sizes.push_back(0);
      if (refuse_from != 0 && listing.batch_sizes.size() >= refuse_from) return 6;
      rapidjson::Document batch(&allocator);
      batch.Parse(json.data(), json.size());
      EXPECT_TRUE(batch.IsArray()) << json;
      if (!batch.IsArray()) return 0;
      listing.batch_sizes.back() = batch.Size();
      for (rapidjson::Value& note : batch.GetArray()) listing.notes.PushBack(note, allocator);
      return 0;
    });
    listing.info.Parse(listing.result.info.c_str());
    EXPECT_TRUE(listing.info.IsObject()) << listing.result.info;
    return listing;
  }

  static std::string Utc(int64_t seconds_since_2001) {
    time_t clock = static_cast<time_t>(seconds_since_2001 + 978307200);
    std::tm parts{};
    gmtime_r(&clock, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &parts);
    return text;
  }

  std::string folder_;
};

TEST_F(NoteListTest, BothGenerationsListEveryLiveNoteOnceWithItsFolder) {
  Listing listing = List(Write(vdevice_fixtures::AllNotesDatabaseOptions()));
  EXPECT_EQ(listing.result.code, 0);
  EXPECT_EQ(listing.Subjects(kKorNoteSourceLegacy),
            (std::vector<std::string>{"Groceries", "Trip ideas", "Wi-Fi at the cabin", "Standup", "Q3 goals",
                                      "Lost body"}));
  EXPECT_EQ(listing.Subjects(kKorNoteSourceStore),
            (std::vector<std::string>{"Groceries", "Trip ideas", "Wi-Fi at the cabin", "Standup", "Q3 goals", "Bank",
                                      "Floor plan", "Scrambled", "Not a note"}))
      << "deleted notes and the attachment's own row are no notes";
  EXPECT_EQ(listing.info["Count"].GetInt(), 15);
  EXPECT_EQ(listing.info["Locked"].GetInt(), 1);
  EXPECT_EQ(listing.info["Damaged"].GetInt(), 3);
  EXPECT_EQ(listing.info["note_db_code"].GetInt(), 0);
  EXPECT_EQ(listing.info["note_store_db_code"].GetInt(), 0);

  for (const char* source : {kKorNoteSourceLegacy, kKorNoteSourceStore}) {
    EXPECT_STREQ((*listing.Find("Groceries", source))["folder"].GetString(), "Notes") << source;
    EXPECT_STREQ((*listing.Find("Standup", source))["folder"].GetString(), "Work") << source;
  }
  const rapidjson::Value& store_note = *listing.Find("Q3 goals", kKorNoteSourceStore);
  EXPECT_STREQ(store_note["content"].GetString(), "Q3 goals\n1. Ship the sync rewrite\n2. \"Quiet\" on-call <3 pages>");
  EXPECT_STREQ(store_note["contentType"].GetString(), "text/plain");
  EXPECT_STREQ(store_note["guid"].GetString(), "8E1D0C2A-0000-4000-8000-000000000004");
  EXPECT_STREQ(store_note["com_apple_syncservices_RecordEntityName"].GetString(), "com.apple.notes.Note");
  const rapidjson::Value& legacy_note = *listing.Find("Q3 goals", kKorNoteSourceLegacy);
  EXPECT_STREQ(legacy_note["content"].GetString(),
               "<div>Q3 goals\n1. Ship the sync rewrite\n2. \"Quiet\" on-call <3 pages></div>");
  EXPECT_STREQ(legacy_note["contentType"].GetString(), "text/html");
  EXPECT_STREQ(legacy_note["author"].GetString(), "ann@mail.example.com");
  EXPECT_STREQ(legacy_note["guid"].GetString(), "note-guid-5");
}

TEST_F(NoteListTest, DatesAreLocalTimeFromWhicheverCreationColumnTheStoreHas) {
  for (bool creation_date3 : {false, true}) {
    NotesDatabaseOptions options;
    options.creation_date3 = creation_date3;
    Listing listing = List(Write(options));
    for (const char* source : {kKorNoteSourceLegacy, kKorNoteSourceStore}) {
      const rapidjson::Value& note = *listing.Find("Groceries", source);
      EXPECT_EQ(note["dateCreated"].GetString(), Utc(720000000)) << source << " " << creation_date3;
      EXPECT_EQ(note["dateModified"].GetString(), Utc(720000600)) << source;
      // The database's own value, fraction and all (a whole number is stored as an integer).
      EXPECT_STREQ(note["dateCreatedSource"].GetString(), "720000000") << source;
      EXPECT_STREQ(note["dateModifiedSource"].GetString(), "720000600.5") << source;
    }
  }
}

TEST_F(NoteListTest, LockedNoteIsListedWithoutItsText) {
  Listing listing = List(Write(vdevice_fixtures::AllNotesDatabaseOptions()));
  const rapidjson::Value& locked = *listing.Find("Bank", kKorNoteSourceStore);
  EXPECT_TRUE(locked["locked"].GetBool());
  EXPECT_FALSE(locked["damaged"].GetBool()) << "ciphertext is not a damaged body";
  EXPECT_STREQ(locked["content"].GetString(), "");
  EXPECT_EQ(locked["dateCreated"].GetString(), Utc(723000000));
  EXPECT_FALSE((*listing.Find("Groceries", kKorNoteSourceStore))["locked"].GetBool());
}

TEST_F(NoteListTest, DamagedBodiesDoNotStopTheNotesAfterThem) {
  NotesDatabaseOptions options;
  options.damaged_bodies = true;
  options.filler_notes = 1;
  Listing listing = List(Write(options));
  for (const char* subject : {"Scrambled", "Not a note"}) {
    const rapidjson::Value& note = *listing.Find(subject, kKorNoteSourceStore);
    EXPECT_TRUE(note["damaged"].GetBool()) << subject;
    EXPECT_STREQ(note["content"].GetString(), "") << subject;
  }
  EXPECT_TRUE((*listing.Find("Lost body", kKorNoteSourceLegacy))["damaged"].GetBool());
  for (const char* source : {kKorNoteSourceLegacy, kKorNoteSourceStore}) {
    ASSERT_NE(listing.Find("Filler 1", source), nullptr) << source;
    EXPECT_FALSE((*listing.Find("Filler 1", source))["damaged"].GetBool());
  }
  EXPECT_STREQ((*listing.Find("Filler 1", kKorNoteSourceStore))["content"].GetString(), "Filler 1\nline 1");
  EXPECT_EQ(listing.info["Damaged"].GetInt(), 3);
}

TEST_F(NoteListTest, AttachmentsAreNamedAndTheirPlaceholdersLeaveTheText) {
  NotesDatabaseOptions options;
  options.attachment = true;
  Listing listing = List(Write(options));
  const rapidjson::Value& note = *listing.Find("Floor plan", kKorNoteSourceStore);
  EXPECT_STREQ(note["content"].GetString(), "Floor plan\nSee the sketch: \nthen the kitchen");
  ASSERT_EQ(note["attachments"].Size(), 1u);
  EXPECT_STREQ(note["attachments"][0]["identifier"].GetString(), vdevice_fixtures::kFixtureAttachmentIdentifier);
  EXPECT_STREQ(note["attachments"][0]["type"].GetString(), "public.jpeg");
}

TEST_F(NoteListTest, NotesGoOutInBatchesOfTwentyAndAStoppedSenderEndsTheListing) {
  NotesDatabaseOptions options;
  options.filler_notes = 42;
  KorNoteListRequest request = Write(options);
  request.note_db_path.clear();
  Listing listing = List(request);
  EXPECT_EQ(listing.batch_sizes, (std::vector<size_t>{20, 20, 5}));
  EXPECT_EQ(listing.info["Count"].GetInt(), 45);
  EXPECT_FALSE(listing.info.HasMember("note_db_code")) << "an empty path names no database";

  Listing stopped = List(request, 2);
  EXPECT_EQ(stopped.result.code, 6);
  EXPECT_EQ(stopped.batch_sizes.size(), 2u) << "nothing is read or sent after the refused batch";
}

TEST_F(NoteListTest, RequestNamesAtLeastOnePathAndOnlyTexts) {
  KorNoteListRequest request;
  EXPECT_FALSE(KorParseNoteListRequest("", &request));
  EXPECT_FALSE(KorParseNoteListRequest("[\"a\"]", &request));
  EXPECT_FALSE(KorParseNoteListRequest("{}", &request));
  EXPECT_FALSE(KorParseNoteListRequest(R"({"note_db_path":5,"note_store_db_path":"b"})", &request));
  ASSERT_TRUE(KorParseNoteListRequest(R"({"note_store_db_path":"b","other":1})", &request));
  EXPECT_EQ(request.note_store_db_path, "b");
  EXPECT_EQ(request.note_db_path, "");
  ASSERT_TRUE(KorParseNoteListRequest(R"({"note_db_path":"","note_store_db_path":""})", &request));
  Listing listing = List(request);
  EXPECT_EQ(listing.result.code, 0);
  EXPECT_EQ(listing.info["Count"].GetInt(), 0);
  EXPECT_TRUE(listing.batch_sizes.empty());
}

TEST_F(NoteListTest, AnUnreadableDatabaseFailsTheListingOnlyWhenNothingCouldBeRead) {
  KorNoteListRequest request = Write(NotesDatabaseOptions());
  KorNoteListRequest missing{folder_ + "/absent.sqlite", request.note_store_db_path};
  Listing partial = List(missing);
  EXPECT_EQ(partial.result.code, 0);
  EXPECT_EQ(partial.info["note_db_code"].GetInt(), 19);
  EXPECT_EQ(partial.info["Count"].GetInt(), 3);
  EXPECT_FALSE(fs::exists(missing.note_db_path)) << "reading never creates a database";

  std::ofstream(folder_ + "/garbage.sqlite") << std::string(4096, 'x');
  Listing none = List(KorNoteListRequest{folder_ + "/absent.sqlite", folder_ + "/garbage.sqlite"});
  EXPECT_EQ(none.result.code, 19);
  EXPECT_EQ(none.info["note_store_db_code"].GetInt(), 20) << "a file that is no database";

  // The generations swapped: each reader finds none of its tables.
  Listing swapped = List(KorNoteListRequest{request.note_store_db_path, request.note_db_path});
  EXPECT_EQ(swapped.result.code, 20);
  EXPECT_EQ(swapped.info["Count"].GetInt(), 0);
}

TEST_F(NoteListTest, AnEarlyNoteStoreWithoutOptionalColumnsOrEntityTableStillLists) {
  std::string path = folder_ + "/early.sqlite";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
                         "ZNOTEDATA INTEGER, ZIDENTIFIER VARCHAR, ZTITLE1 VARCHAR);"
                         "CREATE TABLE ZICNOTEDATA (Z_PK INTEGER PRIMARY KEY, ZDATA BLOB);"
                         "INSERT INTO ZICCLOUDSYNCINGOBJECT VALUES (1, 7, NULL, 'FOLDER', NULL);"
                         "INSERT INTO ZICCLOUDSYNCINGOBJECT VALUES (2, 8, 1, 'NOTE', 'Early');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::string data = vdevice_fixtures::EncodeNoteData("Early\nfrom iOS 9");
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO ZICNOTEDATA VALUES (1, ?)", -1, &insert, nullptr), SQLITE_OK);
  sqlite3_bind_blob(insert, 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
  sqlite3_finalize(insert);
  sqlite3_close(db);

  Listing listing = List(KorNoteListRequest{"", path});
  EXPECT_EQ(listing.result.code, 0);
  ASSERT_EQ(listing.Subjects(kKorNoteSourceStore), std::vector<std::string>{"Early"});
  const rapidjson::Value& note = *listing.Find("Early", kKorNoteSourceStore);
  EXPECT_STREQ(note["content"].GetString(), "Early\nfrom iOS 9");
  EXPECT_STREQ(note["folder"].GetString(), "");
  EXPECT_STREQ(note["dateCreated"].GetString(), "");
}

}  // namespace
