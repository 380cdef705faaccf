// Command 1800 through the front-end link: Tandrel loads the sample plug-in named in its start
// parameters, hands requests to it as events, and sends what the plug-in publishes back.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frontend_message.h"
#include "messages_database.h"
#include "photo_library_plan.h"
#include "photo_library_writer.h"
#include "tandrel_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Request(int type, const std::string& event) {
  return "{\"type\":" + std::to_string(type) + ",\"info\":{\"sub_command_type\":\"" + event + "\"}}";
}

class PluginModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folders_ = new harness::TempFolder();
    plugin_ = folders_->Path() + "/SamplePlugin";
    for (const char* version : {"2.0.0", "1.0.0"}) {
      fs::create_directories(plugin_ + "/" + version + "/x64");
      fs::copy_file(std::string(SAMPLE_PLUGIN_DIR) + "/plugin.load", plugin_ + "/" + version + "/plugin.load");
    }
    fs::copy_file(std::string(SAMPLE_PLUGIN_DIR) + "/x64/libsample_plugin.so",
                  plugin_ + "/1.0.0/x64/libsample_plugin.so");
    harness::TandrelOptions options;
    options.open_log = 1;
    options.load_modules = {plugin_, plugin_};
    tandrel_ = new harness::Tandrel(options);
    ASSERT_TRUE(tandrel_->Start());
  }
  static void TearDownTestSuite() {
    delete tandrel_;
    delete folders_;
  }

  // The plug-in's next result for `task`; its attachment parsed when it is JSON.
  static frontend::Message Result(uint64_t task, rapidjson::Document* json = nullptr) {
    auto message = tandrel_->Link().NextFor(task, 10s);
    EXPECT_TRUE(message);
    if (!message) return frontend::Message();
    if (json) json->Parse(message->attachment.c_str());
    return *message;
  }

  static harness::TempFolder* folders_;
  static std::string plugin_;
  static harness::Tandrel* tandrel_;
};

harness::TempFolder* PluginModuleTest::folders_ = nullptr;
std::string PluginModuleTest::plugin_;
harness::Tandrel* PluginModuleTest::tandrel_ = nullptr;

TEST_F(PluginModuleTest, LoadsTheLoadableVersionOnceAndLogsIt) {
  ASSERT_TRUE(tandrel_->Link().Send(1800, 100, Request(0, "SAMPLE_ECHO"), frontend::CompressAttachment("hello")));
  rapidjson::Document json;
  frontend::Message result = Result(100, &json);
  EXPECT_EQ(result.command, 1800u);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.stage, 2);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.type, 0);
  ASSERT_TRUE(json.IsObject()) << result.attachment;
  EXPECT_STREQ(json["echo"].GetString(), "hello");
  EXPECT_STREQ(json["task"].GetString(), "100");
  EXPECT_NE(std::string(json["library"].GetString()).find("/SamplePlugin/1.0.0/x64/"), std::string::npos);

  int successes = 0;
  for (const auto& entry : fs::directory_iterator(tandrel_->LogFolder())) {
    if (entry.path().filename().string().find(".log.INFO.") == std::string::npos) continue;
    std::ifstream file(entry.path());
    for (std::string line; std::getline(file, line);) {
      if (line.find("Load Module Success: " + plugin_) != std::string::npos) ++successes;
    }
  }
  EXPECT_EQ(successes, 1);
}

TEST_F(PluginModuleTest, RawRequestIsInflatedByThePlatformAndReturnedAsRawBytes) {
  std::string original(5000, 'x');
  original += "tail";
  ASSERT_TRUE(tandrel_->Link().Send(1800, 110, Request(1, "SAMPLE_INFLATE"), frontend::CompressAttachment(original)));
  frontend::Message result = Result(110);
  EXPECT_EQ(result.type, 1);
  EXPECT_EQ(result.attachment, original);

  ASSERT_TRUE(tandrel_->Link().Send(1800, 111, Request(1, "SAMPLE_INFLATE"), "not zlib data"));
  rapidjson::Document json;
  Result(111, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_TRUE(json.HasMember("error"));
}

TEST_F(PluginModuleTest, ResultForAStoppedTaskIsDropped) {
  rapidjson::Document json;
  ASSERT_TRUE(tandrel_->Link().Send(1800, 200, Request(0, "SAMPLE_DEFER")));
  Result(200, &json);
  ASSERT_TRUE(json.IsObject() && json.HasMember("kept"));
  auto stop = tandrel_->Run(600, 201, R"({"info":{"task_id":"200"}})");
  ASSERT_FALSE(stop.empty());
  ASSERT_TRUE(tandrel_->Link().Send(1800, 202, Request(0, "SAMPLE_FLUSH")));
  Result(202, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["flushed"].GetInt(), 1) << "the plug-in did answer the stopped task";
  // The flush answered task 200 before its own task, on the same connection.
  EXPECT_FALSE(tandrel_->Link().NextFor(200, 0ms));

  ASSERT_TRUE(tandrel_->Link().Send(1800, 210, Request(0, "SAMPLE_DEFER")));
  Result(210, &json);
  ASSERT_TRUE(tandrel_->Link().Send(1800, 211, Request(0, "SAMPLE_FLUSH")));
  Result(210, &json);
  ASSERT_TRUE(json.IsObject()) << "a task that still runs gets its late result";
  EXPECT_TRUE(json["deferred"].GetBool());
}

TEST_F(PluginModuleTest, BroadcastNeverReturnsToItsSender) {
  ASSERT_TRUE(tandrel_->Link().Send(1800, 300, Request(0, "SAMPLE_BROADCAST")));
  rapidjson::Document json;
  Result(300, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["self_received"].GetInt(), 0);
}

TEST_F(PluginModuleTest, PlatformFunctionsAnswerOrAreLeftAlone) {
  rapidjson::Document json;
  ASSERT_TRUE(tandrel_->Link().Send(1800, 400, Request(1, "SAMPLE_PLATFORM"), "LIBPLATFORM_RECORDING_QUERY_LIST"));
  Result(400, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["result"].GetInt(), 0) << "a data function without its request reports failure";

  ASSERT_TRUE(tandrel_->Link().Send(1800, 401, Request(1, "SAMPLE_PLATFORM"), "LIBPLATFORM_NO_SUCH_FUNCTION"));
  Result(401, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["result"].GetInt(), 2) << "an unknown name does nothing";

  ASSERT_TRUE(tandrel_->Link().Send(1800, 402, Request(1, "SAMPLE_PLATFORM"),
                                    "LIBPLATFORM_SMS_QUERY_CONVERSATION_LIST\n{\"path\":\"/no/such/sms.db\"}"));
  Result(402, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["result"].GetInt(), 0) << "a database that does not open";
}

TEST_F(PluginModuleTest, MessagesListingReachesAPlugin) {
  std::string path = folders_->Path() + "/sms.db";
  std::string error;
  ASSERT_TRUE(fixtures::WriteMessagesDatabase(path, fixtures::MessagesDatabaseOptions(), &error)) << error;
  ASSERT_TRUE(tandrel_->Link().Send(1800, 410, Request(1, "SAMPLE_PLATFORM"),
                                    "LIBPLATFORM_SMS_QUERY_CONVERSATION_LIST\n{\"path\":\"" + path + "\"}"));
  rapidjson::Document json;
  frontend::Message result = Result(410, &json);
  ASSERT_TRUE(json.IsObject()) << result.attachment;
  EXPECT_EQ(json["result"].GetInt(), 1);
  const auto& conversations = json["output"];
  ASSERT_TRUE(conversations.IsArray());
  EXPECT_EQ(conversations.Size(), static_cast<unsigned>(fixtures::sms_content::kConversationCount));
  bool long_found = false;
  for (const auto& conversation : conversations.GetArray()) {
    ASSERT_TRUE(conversation.HasMember("messages"));
    if (conversation["messages"].Size() == static_cast<unsigned>(fixtures::sms_content::kLongCount)) long_found = true;
  }
  EXPECT_TRUE(long_found) << "the long conversation keeps all its messages";
}

TEST_F(PluginModuleTest, PhotoListingsReachAPlugin) {
  vdevice_fixtures::PhotoLibraryOptions options;
  options.product_version = "16.6";
  options.wal_assets = 0;
  vdevice_fixtures::PhotoLibraryPlan plan = vdevice_fixtures::PlanPhotoLibrary(options);
  std::string path = folders_->Path() + "/Photos.sqlite";
  std::string error;
  ASSERT_TRUE(vdevice_fixtures::WriteCoreDataPhotoDatabase(plan, path, &error)) << error;
  size_t visible = 0;
  for (const auto& asset : plan.assets) visible += asset.trashed ? 0 : 1;
  std::string request = "{\"path\":\"" + path + "\",\"productVersion\":\"16.6\"}";

  rapidjson::Document json;
  ASSERT_TRUE(tandrel_->Link().Send(1800, 420, Request(1, "SAMPLE_PLATFORM"),
                                    "LIBPLATFORM_PHOTO_QUERY_CAMERA_ROLL_LIST\n" + request));
  Result(420, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["result"].GetInt(), 1);
  ASSERT_TRUE(json["output"].IsArray());
  EXPECT_EQ(json["output"].Size(), visible);
  for (const auto& photo : json["output"].GetArray()) EXPECT_TRUE(photo.HasMember("PATH"));

  ASSERT_TRUE(tandrel_->Link().Send(1800, 421, Request(1, "SAMPLE_PLATFORM"),
                                    "LIBPLATFORM_PHOTO_QUERY_ALBUM_LIST\n" + request));
  Result(421, &json);
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["result"].GetInt(), 1);
  ASSERT_TRUE(json["output"].IsArray());
  EXPECT_GT(json["output"].Size(), 0u);
}

TEST_F(PluginModuleTest, RequestThatDoesNotParseGetsCode21) {
  auto messages = tandrel_->Run(1800, 500, "{broken");
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, 21);
  EXPECT_EQ(messages.back().status, 6);
}

}  // namespace
