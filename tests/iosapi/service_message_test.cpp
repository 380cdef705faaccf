// Service messages: framing, the receive loop's limits, and reading received messages.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "framework_environment.h"
#include "scripted_stream.h"
#include "iOSAPI/kor_service_message.h"

namespace {

std::string Prefix(uint32_t length) {
  return std::string{static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
                     static_cast<char>(length)};
}

// Collects every message and keeps asking for more.
struct Collector {
  std::vector<std::string> messages;
  KorMessageHandler Handler(bool keep_going = true) {
    return [this, keep_going](const uint8_t* bytes, uint32_t length, int* continue_flag, int32_t* result) {
      messages.emplace_back(reinterpret_cast<const char*>(bytes), length);
      *result += 1;
      *continue_flag = keep_going ? 1 : 0;
    };
  }
};

TEST(ReceiveLoopTest, MessageSplitAcrossReadsIsJoinedBeforeTheHandler) {
  ScriptedStream connection;
  connection.pieces = {Prefix(11), "hello", " wor", "ld", Prefix(3), "abc"};
  Collector collector;
  EXPECT_EQ(KorReceiveMessages(connection.Io(), collector.Handler()), 2);
  EXPECT_EQ(collector.messages, (std::vector<std::string>{"hello world", "abc"}));
}

TEST(ReceiveLoopTest, LengthsOutsideTheLimitsEndTheExchange) {
  for (uint32_t bad : {0u, kKorMaxServiceMessage + 1, 0xFFFFFFFFu}) {
    ScriptedStream connection;
    connection.pieces = {Prefix(1), "x", Prefix(bad), "never read"};
    Collector collector;
    EXPECT_EQ(KorReceiveMessages(connection.Io(), collector.Handler()), 1) << bad;
  }
  ScriptedStream at_limit;
  at_limit.pieces = {Prefix(kKorMaxServiceMessage), std::string(kKorMaxServiceMessage, 'm')};
  Collector collector;
  EXPECT_EQ(KorReceiveMessages(at_limit.Io(), collector.Handler()), 1);
  ASSERT_EQ(collector.messages.size(), 1u);
  EXPECT_EQ(collector.messages[0].size(), kKorMaxServiceMessage);
}

TEST(ReceiveLoopTest, ShortReadsAndAHandlerThatStopsEndTheLoop) {
  ScriptedStream truncated;
  truncated.pieces = {Prefix(100), "only part"};
  Collector collector;
  EXPECT_EQ(KorReceiveMessages(truncated.Io(), collector.Handler()), 0);
  EXPECT_TRUE(collector.messages.empty());

  ScriptedStream two;
  two.pieces = {Prefix(1), "a", Prefix(1), "b"};
  Collector once;
  EXPECT_EQ(KorReceiveMessages(two.Io(), once.Handler(false)), 1);
  EXPECT_EQ(once.messages.size(), 1u);
}

const char* kRequestXml =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
    R"(<plist version="1.0"><dict><key>Request</key><string>IORegistry</string>)"
    R"(<key>EntryClass</key><string>IOPMPowerSource</string></dict></plist>)";

TEST(ServiceMessageTest, XmlRequestBecomesABinaryMessageWithABigEndianLength) {
  REQUIRE_FRAMEWORK();
  KorMessageBufferPtr message = KorXmlToMessage(kRequestXml);
  ASSERT_TRUE(message);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(message->bytes), 8), "bplist00");
  ScriptedStream connection;
  EXPECT_TRUE(KorSendMessage(connection.Io(), *message));
  ASSERT_EQ(connection.sent.size(), message->length + 4);
  EXPECT_EQ(connection.sent.substr(0, 4), Prefix(message->length));
  EXPECT_EQ(KorMessageFirstValue(message->bytes, message->length), "IORegistry");  // the first key as written
  KorValue tree;
  ASSERT_TRUE(KorMessageToValue(message->bytes, message->length, &tree));
  EXPECT_EQ(tree.AsDictionary()->Get("Request").AsString(), "IORegistry");
  EXPECT_FALSE(KorXmlToMessage("<plist><dict><key>broken"));
}

TEST(ServiceMessageTest, GarbageAndOversizedMessagesReadAsNothing) {
  REQUIRE_FRAMEWORK();
  const std::string garbage = "definitely not a property list";
  EXPECT_EQ(KorMessageToXml(reinterpret_cast<const uint8_t*>(garbage.data()), garbage.size()), "");
  KorValue tree;
  EXPECT_FALSE(KorMessageToValue(reinterpret_cast<const uint8_t*>(garbage.data()), garbage.size(), &tree));
  std::string big = R"(<plist version="1.0"><dict><key>Command</key><string>Ping</string><key>Pad</key><string>)" +
                    std::string(70000, 'p') + "</string></dict></plist>";
  KorMessageBufferPtr message = KorXmlToMessage(big);
  ASSERT_TRUE(message);
  EXPECT_EQ(KorMessageFirstValue(message->bytes, message->length), "");
}

}  // namespace
