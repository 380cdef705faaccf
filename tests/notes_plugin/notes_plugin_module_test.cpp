// The notes plug-in inside Tandrel: loaded from its plug-in folder, asked through command 1800 with
// the event the note module forwards, answering the front-end with note batches and a final reply.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <fstream>

#include "frontend_message.h"
#include "notes_db.h"
#include "tandrel_harness.h"

namespace {

namespace fs = std::filesystem;

std::string Request(int type) {
  return "{\"type\":" + std::to_string(type) + ",\"info\":{\"sub_command_type\":\"LIBMODEL_IBACKUP_QUERY_NOTE_LIST\"}}";
}

class NotesPluginTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folders_ = new harness::TempFolder();
    vdevice_fixtures::NotesDatabaseOptions options = vdevice_fixtures::AllNotesDatabaseOptions();
    options.filler_notes = 20;
    std::string error;
    legacy_ = folders_->Path() + "/notes.sqlite";
    store_ = folders_->Path() + "/NoteStore.sqlite";
    ASSERT_TRUE(vdevice_fixtures::WriteLegacyNotesDatabase(legacy_, options, &error)) << error;
    ASSERT_TRUE(vdevice_fixtures::WriteNoteStoreDatabase(store_, options, &error)) << error;
    harness::TandrelOptions tandrel_options;
    tandrel_options.open_log = 1;
    tandrel_options.load_modules = {NOTES_PLUGIN_DIR};
    tandrel_ = new harness::Tandrel(tandrel_options);
    ASSERT_TRUE(tandrel_->Start());
  }
  static void TearDownTestSuite() {
    delete tandrel_;
    delete folders_;
  }

  static std::string Paths() {
    return "{\"note_db_path\":\"" + legacy_ + "\",\"note_store_db_path\":\"" + store_ + "\"}";
  }

  static harness::TempFolder* folders_;
  static harness::Tandrel* tandrel_;
  static std::string legacy_;
  static std::string store_;
};

harness::TempFolder* NotesPluginTest::folders_ = nullptr;
harness::Tandrel* NotesPluginTest::tandrel_ = nullptr;
std::string NotesPluginTest::legacy_;
std::string NotesPluginTest::store_;

TEST_F(NotesPluginTest, NotesArriveInBatchesThenOneFinalReplyWithTheSummary) {
  auto messages = tandrel_->Run(1800, 10, Request(0), frontend::CompressAttachment(Paths()));
  ASSERT_GE(messages.size(), 3u);
  rapidjson::Document notes(rapidjson::kArrayType);
  for (size_t i = 0; i + 1 < messages.size(); ++i) {
    const frontend::Message& batch = messages[i];
    EXPECT_EQ(batch.command, 1800u);
    EXPECT_EQ(batch.status, 2);
    EXPECT_EQ(batch.stage, 2);
    EXPECT_EQ(batch.code, 0);
    EXPECT_EQ(batch.type, 0);
    EXPECT_TRUE(batch.attachment_inflated);
    rapidjson::Document array(&notes.GetAllocator());
    array.Parse(batch.attachment.c_str());
    ASSERT_TRUE(array.IsArray()) << batch.attachment;
    EXPECT_LE(array.Size(), 20u);
    for (rapidjson::Value& note : array.GetArray()) notes.PushBack(note, notes.GetAllocator());
  }
  const frontend::Message& final_reply = messages.back();
  EXPECT_EQ(final_reply.status, 1);
  EXPECT_EQ(final_reply.code, 0);
  ASSERT_TRUE(final_reply.info);
  rapidjson::Document info;
  info.Parse(final_reply.info->c_str());
  ASSERT_TRUE(info.IsObject());
  // 6 + 20 fillers from the older database, 9 + 20 from the note store.
  EXPECT_EQ(info["Count"].GetInt(), 55);
  EXPECT_EQ(static_cast<int>(notes.Size()), 55);
  EXPECT_EQ(info["Locked"].GetInt(), 1);
  EXPECT_EQ(info["Damaged"].GetInt(), 3);

  int locked = 0, work = 0, damaged = 0;
  for (const rapidjson::Value& note : notes.GetArray()) {
    if (note["locked"].GetBool()) {
      ++locked;
      EXPECT_STREQ(note["subject"].GetString(), "Bank");
      EXPECT_STREQ(note["content"].GetString(), "");
    }
    if (note["damaged"].GetBool()) ++damaged;
    if (std::string(note["folder"].GetString()) == "Work") ++work;
  }
  EXPECT_EQ(locked, 1);
  EXPECT_EQ(damaged, 3);
  EXPECT_EQ(work, 4);
  EXPECT_FALSE(tandrel_->Link().NextFor(10, std::chrono::milliseconds(300))) << "nothing after the final reply";
}

TEST_F(NotesPluginTest, RawRequestBytesAreReadTheSameWay) {
  auto messages = tandrel_->Run(1800, 20, Request(1), "{\"note_store_db_path\":\"" + store_ + "\"}");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().status, 1);
  rapidjson::Document info;
  info.Parse(messages.back().info.value_or("").c_str());
  ASSERT_TRUE(info.IsObject());
  EXPECT_EQ(info["Count"].GetInt(), 29);
}

TEST_F(NotesPluginTest, ARequestWithoutPathsEndsWith21AndUnreadableDatabasesWith19) {
  auto messages = tandrel_->Run(1800, 30, Request(0), frontend::CompressAttachment("{\"path\":\"x\"}"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].status, 6);
  EXPECT_EQ(messages[0].code, 21);

  std::string missing = folders_->Path() + "/missing.sqlite";
  std::string both_missing = "{\"note_db_path\":\"" + missing + "\",\"note_store_db_path\":\"" + missing + "\"}";
  messages = tandrel_->Run(1800, 31, Request(0), frontend::CompressAttachment(both_missing));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].status, 6);
  EXPECT_EQ(messages[0].code, 19);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(NotesPluginTest, ThePluginIsLoadedFromItsFolderAndLogsWhatItReads) {
  std::string absent = folders_->Path() + "/absent.sqlite";
  auto messages =
      tandrel_->Run(1800, 40, Request(0), frontend::CompressAttachment("{\"note_db_path\":\"" + absent + "\"}"));
  ASSERT_EQ(messages.size(), 1u);
  bool loaded = false, open_failure = false;
  for (const auto& entry : fs::directory_iterator(tandrel_->LogFolder())) {
    if (entry.path().filename().string().find(".log.INFO.") == std::string::npos) continue;
    std::ifstream file(entry.path());
    for (std::string line; std::getline(file, line);) {
      if (line.find(std::string("Load Module Success: ") + NOTES_PLUGIN_DIR) != std::string::npos) loaded = true;
      if (line.find("OPEN DB: " + absent) != std::string::npos) open_failure = true;
    }
  }
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(open_failure) << "the plug-in's lines go to Tandrel's log";
}

}  // namespace
