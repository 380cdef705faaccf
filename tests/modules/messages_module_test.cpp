// The messages listing (201) through the front-end link: both schema generations, the cases that
// real databases hold, and databases that cannot be read.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "frontend_messages_listing.h"
#include "messages_database.h"
#include "module_fixture.h"
#include "platform/vel_json_util.h"

namespace {

namespace content = fixtures::sms_content;

std::string LocalDate(int64_t apple_seconds) {
  time_t t = static_cast<time_t>(978307200 + apple_seconds);
  struct tm local {};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

const rapidjson::Value* FindChat(const rapidjson::Value& chats, const std::string& chat_id) {
  for (const auto& chat : chats.GetArray()) {
    if (chat_id == chat["chat_id"].GetString()) return &chat;
  }
  return nullptr;
}

const rapidjson::Value* FindMessage(const rapidjson::Value& chat, const std::string& text) {
  for (const auto& message : chat["messages"].GetArray()) {
    if (text == message["text"].GetString()) return &message;
  }
  return nullptr;
}

class MessagesModuleTest : public ModuleTest {
 protected:
  std::string DatabasePath(const std::string& name) const { return tandrel->TempPath() + "/" + name; }

  std::string Write(const std::string& name, const fixtures::MessagesDatabaseOptions& options) {
    std::string path = DatabasePath(name);
    std::string error;
    EXPECT_TRUE(fixtures::WriteMessagesDatabase(path, options, &error)) << error;
    return path;
  }

  std::vector<frontend::Message> Read(const std::string& path) {
    rapidjson::Document info(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "sms_db_path", path);
    return Run(201, DeviceJson("\"info\":" + VelJsonUtil::ToString(info)));
  }

  // Checks the shape every listing has and answers the reassembled chats.
  rapidjson::Document Listing(const std::vector<frontend::Message>& messages, int64_t expected_count) {
    rapidjson::Document listing;
    EXPECT_GE(messages.size(), 2u);
    if (messages.size() < 2) return listing;
    const frontend::Message& final_reply = messages.back();
    EXPECT_EQ(final_reply.status, 1);
    EXPECT_EQ(final_reply.code, 0);
    EXPECT_EQ(final_reply.uuid, udid);
    EXPECT_EQ(messages.front().stage, 1);
    EXPECT_TRUE(messages.front().attachment.empty());
    std::string count_info = "{\"Count\":" + std::to_string(expected_count) + "}";
    for (size_t i = 0; i + 1 < messages.size(); ++i) {
      EXPECT_EQ(messages[i].status, 2);
      EXPECT_EQ(messages[i].code, 0);
      EXPECT_EQ(messages[i].type, 0);
      EXPECT_EQ(messages[i].uuid, udid);
      EXPECT_EQ(messages[i].info.value_or(""), count_info);
    }
    std::string error;
    EXPECT_TRUE(frontend::AssembleMessagesListing(messages, &listing, &error)) << error;
    return listing;
  }
};

TEST_F(MessagesModuleTest, ConversationSchemaListsEveryCaseOfARealDatabase) {
  StartWith("demo");
  fixtures::MessagesDatabaseOptions options;
  options.wal = true;  // the long conversation is only in the -wal companion
  auto messages = Read(Write("sms.db", options));
  rapidjson::Document listing = Listing(messages, content::kConversationCount);
  const rapidjson::Value& chats = listing["chats"];
  ASSERT_EQ(chats.Size(), 4u);

  // Newest last message first: nanosecond dates are larger than any date in seconds.
  EXPECT_STREQ(chats[0]["chat_id"].GetString(), content::kLong);
  EXPECT_STREQ(chats[1]["chat_id"].GetString(), content::kOneToOne);
  EXPECT_STREQ(chats[2]["chat_id"].GetString(), content::kGroup);
  EXPECT_STREQ(chats[3]["chat_id"].GetString(), content::kNoChat);

  // Stage-2 objects carry no messages; members in order.
  for (const frontend::Message& message : messages) {
    if (message.stage != 2) continue;
    EXPECT_EQ(Keys(AttachmentJson(message)),
              (std::vector<std::string>{"id", "chat_id", "snippet", "display_phone", "is_group", "date", "date_str",
                                        "handles", "message_count"}));
  }
  EXPECT_EQ(Keys(chats[0]["messages"][0]),
            (std::vector<std::string>{"id", "chat_id", "text", "date", "date_str", "date_read", "date_read_str",
                                      "is_from_me", "is_read", "is_sent", "error", "handle_id", "handle_id_phone",
                                      "subject", "account_guid", "account"}));
  EXPECT_EQ(Keys(chats[0]["handles"][0]),
            (std::vector<std::string>{"id", "chat_rowid", "chat_id", "service", "country", "handle_id_phone"}));

  // 120 messages travel as 50, 50 and 20 right after their conversation.
  std::vector<size_t> batches;
  for (size_t i = 2; i < messages.size() && messages[i].stage == 3; ++i) {
    batches.push_back(AttachmentJson(messages[i]).Size());
  }
  EXPECT_EQ(batches, (std::vector<size_t>{50, 50, 20}));
  EXPECT_EQ(chats[0]["message_count"].GetInt(), content::kLongCount);
  EXPECT_EQ(chats[0]["is_group"].GetInt(), 0);

  // Two chats with one identifier are one conversation named after the first row read; the same
  // address twice is shown once but listed twice; the NULL text comes from attributedBody.
  const rapidjson::Value& one = chats[1];
  EXPECT_STREQ(one["id"].GetString(), "2");
  EXPECT_STREQ(one["display_phone"].GetString(), content::kOneToOne);
  EXPECT_EQ(one["handles"].Size(), 2u);
  EXPECT_EQ(one["message_count"].GetInt(), 3);
  EXPECT_STREQ(one["snippet"].GetString(), content::kAttributedText);
  const rapidjson::Value* seconds = FindMessage(one, "Hello in seconds");
  const rapidjson::Value* nanoseconds = FindMessage(one, content::kAttributedText);
  ASSERT_TRUE(seconds && nanoseconds);
  EXPECT_EQ((*seconds)["date"].GetInt64(), content::kSecondsDate);
  EXPECT_EQ((*nanoseconds)["date"].GetInt64(), content::kNanosecondsDate);
  EXPECT_EQ((*seconds)["date_str"].GetString(), LocalDate(content::kSecondsDate));
  EXPECT_EQ((*nanoseconds)["date_str"].GetString(), LocalDate(content::kSecondsDate));
  EXPECT_EQ(std::string((*seconds)["date_str"].GetString()).substr(0, 4), "2020");
  EXPECT_EQ((*seconds)["date_read_str"].GetString(), LocalDate(content::kSecondsDate + 60));
  EXPECT_STREQ((*nanoseconds)["date_read_str"].GetString(), "");
  EXPECT_STREQ((*seconds)["subject"].GetString(), "Greeting");
  EXPECT_STREQ((*seconds)["handle_id_phone"].GetString(), content::kOneToOne);
  EXPECT_EQ((*nanoseconds)["is_from_me"].GetInt(), 1);
  EXPECT_STREQ(one["date_str"].GetString(), LocalDate(content::kSecondsDate).c_str());

  // A group: my message without a handle marks it; a substring address is listed, not shown.
  const rapidjson::Value& group = chats[2];
  EXPECT_EQ(group["is_group"].GetInt(), 1);
  EXPECT_STREQ(group["display_phone"].GetString(), "friend@example.com,+15550002222");
  EXPECT_EQ(group["handles"].Size(), 3u);
  ASSERT_EQ(group["messages"].Size(), 4u);
  EXPECT_STREQ(group["messages"][2]["text"].GetString(), "");  // NULL text, no attributedBody
  EXPECT_EQ(group["messages"][2]["error"].GetInt(), 4);
  EXPECT_STREQ(group["messages"][3]["text"].GetString(), "");  // a broken attributedBody
  EXPECT_STREQ(group["snippet"].GetString(), "");

  // A message without a chat, and the handle without one, form the conversation with no identifier.
  const rapidjson::Value& lost = chats[3];
  EXPECT_STREQ(lost["id"].GetString(), "0");
  EXPECT_STREQ(lost["display_phone"].GetString(), "+15550003333");
  ASSERT_EQ(lost["handles"].Size(), 1u);
  EXPECT_EQ(lost["handles"][0]["chat_rowid"].GetInt64(), 0);
  EXPECT_STREQ(lost["snippet"].GetString(), "Lost message");
}

TEST_F(MessagesModuleTest, SingleTableSchemaKeysConversationsByAddress) {
  StartWith("demo");
  fixtures::MessagesDatabaseOptions options;
  options.schema = fixtures::MessagesSchema::kSingleTable;
  rapidjson::Document listing = Listing(Read(Write("old.db", options)), 2);
  const rapidjson::Value& chats = listing["chats"];
  ASSERT_EQ(chats.Size(), 2u);
  EXPECT_STREQ(chats[0]["chat_id"].GetString(), "15550002222");
  EXPECT_STREQ(chats[0]["id"].GetString(), "15550002222");
  EXPECT_STREQ(chats[0]["display_phone"].GetString(), "15550002222");
  EXPECT_EQ(chats[0]["messages"][0]["is_read"].GetInt(), 0);
  EXPECT_STREQ(chats[0]["messages"][0]["subject"].GetString(), "Subject line");
  const rapidjson::Value* first = FindChat(chats, "15550001111");
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)["is_group"].GetInt(), 0);
  EXPECT_EQ((*first)["handles"].Size(), 0u);
  EXPECT_EQ((*FindMessage(*first, "Sent one"))["is_from_me"].GetInt(), 1);      // flags 3
  EXPECT_EQ((*FindMessage(*first, "Received one"))["is_from_me"].GetInt(), 0);  // flags 2
  EXPECT_STREQ((*first)["snippet"].GetString(), "Received one");
}

TEST_F(MessagesModuleTest, UnreadableDatabasesAnswerAnEmptyListing) {
  StartWith("demo");
  // A path that does not exist is not created.
  std::string missing = DatabasePath("missing.db");
  Listing(Read(missing), 0);
  EXPECT_FALSE(std::filesystem::exists(missing));
  // Not a database at all.
  std::string junk = DatabasePath("junk.db");
  std::ofstream(junk) << std::string(8192, 'j');
  Listing(Read(junk), 0);
  // A broken schema: the tables are there, a column the query needs is not.
  std::string broken = DatabasePath("broken.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(broken.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "create table message (ROWID integer primary key, text text, date integer);"
               "create table handle (ROWID integer primary key, id text);"
               "create table chat (ROWID integer primary key, chat_identifier text);"
               "create table chat_message_join (chat_id integer, message_id integer);"
               "create table chat_handle_join (chat_id integer, handle_id integer);"
               "insert into message values (1, 'lost', 1);"
               "create table madrid_chat (x);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  Listing(Read(broken), 0);
  // A newer generation that is not understood (madrid tables without the join tables) and a
  // database without messages read as empty.
  std::string madrid = DatabasePath("madrid.db");
  ASSERT_EQ(sqlite3_open(madrid.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "create table message (ROWID integer primary key, text text); create table madrid_chat (x);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  Listing(Read(madrid), 0);
  // No path at all.
  Listing(Run(201, DeviceJson("\"info\":{}")), 0);
}

// What a front-end does: 1608 for the messages database, the reported path, then 201 on it.
TEST_F(MessagesModuleTest, ExtractionReportsThePathThatTheListingReads) {
  StartWith("demo");
  auto extraction = Run(1608, DeviceJson("\"info\":{\"types\":[0]}"));
  ASSERT_FALSE(extraction.empty());
  EXPECT_EQ(extraction.back().status, 1);
  EXPECT_EQ(extraction.back().code, 0);
  std::vector<const frontend::Message*> reports;
  for (const frontend::Message& message : extraction) {
    if (message.info && message.info->find("sms_db_path") != std::string::npos) reports.push_back(&message);
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0]->status, 2);
  EXPECT_EQ(reports[0]->stage, 2);
  EXPECT_EQ(reports[0]->code, 0);
  EXPECT_EQ(reports[0]->type, 0);
  EXPECT_EQ(reports[0]->uuid, udid);
  std::optional<std::string> path = frontend::FindSmsDbPath(extraction);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->rfind(tandrel->WorkFolder(), 0), 0u) << *path;
  EXPECT_TRUE(std::filesystem::exists(*path));

  // The simulated device sends a database's "-wal" before the database, so the copy holds the
  // rows only the log has (the long conversation).
  ASSERT_TRUE(std::filesystem::exists(*path + "-wal"));
  rapidjson::Document listing = Listing(Read(*path), content::kConversationCount);
  const rapidjson::Value& chats = listing["chats"];
  const rapidjson::Value* one = FindChat(chats, content::kOneToOne);
  ASSERT_TRUE(one);
  EXPECT_STREQ((*one)["snippet"].GetString(), content::kAttributedText);
  ASSERT_TRUE(FindChat(chats, content::kGroup));
  const rapidjson::Value* long_chat = FindChat(chats, content::kLong);
  ASSERT_TRUE(long_chat);
  if (long_chat) {
    EXPECT_EQ((*long_chat)["messages"].Size(), static_cast<rapidjson::SizeType>(content::kLongCount));
  }
}

TEST_F(MessagesModuleTest, MalformedCommandsGetOneReply) {
  StartWith("demo");
  auto bad = Run(201, "{not json");
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(bad[0].status, 6);
  EXPECT_EQ(bad[0].code, 21);
  EXPECT_EQ(bad[0].uuid, "");
  // Another format number does nothing and succeeds.
  auto other = tandrel->Link().Send(201, 77, DeviceJson(), "", 2)
                   ? tandrel->Link().CollectUntilFinal(77, std::chrono::seconds(20))
                   : std::vector<frontend::Message>();
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].status, 1);
  // A device that is not attached: the listing still comes, with an empty identifier.
  fixtures::MessagesDatabaseOptions options;
  options.schema = fixtures::MessagesSchema::kSingleTable;
  std::string path = Write("old.db", options);
  auto messages = Run(201, R"({"uuid":"not-attached","info":{"sms_db_path":")" + path + "\"}}");
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.front().uuid, "");
  EXPECT_EQ(messages.back().uuid, "");
  EXPECT_EQ(messages.back().code, 0);
}

}  // namespace
