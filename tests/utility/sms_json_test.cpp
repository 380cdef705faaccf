// The listing's JSON objects: member order, and texts with quotes, control characters and bytes
// that are not UTF-8 still give JSON that parses back to the same characters.
#include <gtest/gtest.h>

#include "platform/vel_json_util.h"
#include "utility/module/sms/kor_sms_json.h"

namespace {

TEST(SmsJsonTest, HostileTextsRoundTrip) {
  KorSmsMessage message;
  message.id = -9000000000;
  message.text = std::string("quote \" backslash \\ tab\t nl\n nul") + std::string(1, '\0') + "\x01\x1f \xE2\x9C\x93";
  message.subject = "bad \xFF byte";
  message.chat_id = "/slash/";
  std::string text;
  KorSmsAppendMessageJson(message, &text);
  rapidjson::Document json;
  ASSERT_TRUE(VelJsonUtil::Parse(text, &json)) << text;
  EXPECT_EQ(json["id"].GetInt64(), -9000000000);
  EXPECT_EQ(std::string(json["text"].GetString(), json["text"].GetStringLength()), message.text);
  EXPECT_STREQ(json["subject"].GetString(), "bad \xEF\xBF\xBD byte");
  EXPECT_STREQ(json["chat_id"].GetString(), "/slash/");
  EXPECT_EQ(json.MemberCount(), 16u);
}

TEST(SmsJsonTest, ConversationWithoutMessagesMember) {
  KorSmsConversation conversation;
  conversation.rowid = 7;
  conversation.chat_id = "chat";
  conversation.display_phone = "a,b,";
  for (int i = 0; i < 2; ++i) {
    auto handle = std::make_unique<KorSmsHandle>();
    handle->handle_rowid = i + 1;
    handle->address = i ? "b" : "a";
    conversation.handles.push_back(std::move(handle));
  }
  conversation.messages.push_back(std::make_unique<KorSmsMessage>());
  rapidjson::Document json;
  ASSERT_TRUE(VelJsonUtil::Parse(KorSmsConversationJson(conversation), &json));
  EXPECT_STREQ(json["id"].GetString(), "7");
  EXPECT_STREQ(json["display_phone"].GetString(), "a,b");
  EXPECT_STREQ(json["snippet"].GetString(), "");
  ASSERT_EQ(json["handles"].Size(), 2u);
  EXPECT_STREQ(json["handles"][1]["handle_id_phone"].GetString(), "b");
  EXPECT_EQ(json["message_count"].GetInt(), 1);
  EXPECT_FALSE(json.HasMember("messages"));
}

}  // namespace
