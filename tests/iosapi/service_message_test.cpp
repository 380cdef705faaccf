// Service messages: framing, the receive loop's limits, and reading received messages.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "framework_environment.h"
#include "scripted_stream.h"
#include "iOSAPI/kor_message_value.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_xml_value.h"

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

namespace {

// Two value trees hold the same values of the same kinds.
bool SameTree(const KorValue& a, const KorValue& b) {
  if (a.IsString() || b.IsString()) return a.IsString() && b.IsString() && a.AsString() == b.AsString();
  if (a.IsInteger() || b.IsInteger()) return a.IsInteger() && b.IsInteger() && a.AsInteger() == b.AsInteger();
  if (a.IsDouble() || b.IsDouble()) return a.IsDouble() && b.IsDouble() && a.AsDouble() == b.AsDouble();
  if (a.IsBool() || b.IsBool()) return a.IsBool() && b.IsBool() && a.AsBool() == b.AsBool();
  if (a.IsArray() || b.IsArray()) {
    if (!a.IsArray() || !b.IsArray() || a.AsArray().size() != b.AsArray().size()) return false;
    for (size_t i = 0; i < a.AsArray().size(); ++i) {
      if (!SameTree(a.AsArray()[i], b.AsArray()[i])) return false;
    }
    return true;
  }
  if (a.IsDictionary() || b.IsDictionary()) {
    if (!a.IsDictionary() || !b.IsDictionary()) return false;
    auto left = a.AsDictionary()->Entries();
    auto right = b.AsDictionary()->Entries();
    if (left.size() != right.size()) return false;
    for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
      if (l->first != r->first || !SameTree(l->second, r->second)) return false;
    }
    return true;
  }
  return a.IsEmpty() && b.IsEmpty();
}

std::string Nested(int levels) {
  std::string text = "<string>deep</string>";
  for (int i = 0; i < levels; ++i) text = (i % 2 ? "<array>" : "<dict><key>k</key>") + text + (i % 2 ? "</array>" : "</dict>");
  return text;
}

// The message read straight from the framework's objects holds what reading its XML text holds,
// whatever the values: texts with white space, markup characters, non-ASCII letters, empty texts
// and keys, large and negative integers, dates, data, reals and nesting past the depth bound.
TEST(ServiceMessageTest, MessagesReadAsTheirXmlTextReads) {
  REQUIRE_FRAMEWORK();
  const std::vector<std::string> bodies = {
      "<array><string>SDMessageProcessChanges</string><dict><key>1</key><dict><key>first name</key>"
      "<string>Zoë &amp; &lt;Å&gt; 名前 😀</string><key>n</key><integer>-9223372036854775807</integer>"
      "<key>big</key><integer>4294967296</integer><key>t</key><true/><key>f</key><false/>"
      "<key>contact</key><array><string>1</string><string></string><string>  </string></array>"
      "<key>empty</key><string></string><key>blank</key><string> \t</string><key>padded</key><string> a b </string>"
      "<key></key><string>no key</string><key> </key><string>blank key</string>"
      "<key>lines</key><string>one\ntwo</string><key>nothing</key><dict/><key>none</key><array/></dict></dict>"
      "<false/></array>",
      "<dict><key>Status</key><string>Complete</string><key>when</key><date>2021-05-01T10:00:00Z</date></dict>",
      "<array><data>AAECAw==</data><real>1.5</real><string>x</string></array>",
      "<dict><key>d</key><data>AAECAw==</data><key>r</key><real>0.1</real></dict>",
      "<array><string>cr\r\nlf</string></array>",
      "<array>" + Nested(70) + "</array>",
      "<array>" + Nested(3) + "</array>",
      "<string>a root that is no container</string>",
  };
  // Which of them are read straight from the objects (the others take the XML route).
  const std::vector<bool> direct_reading = {true, false, false, false, false, true, true, false};
  for (size_t i = 0; i < bodies.size(); ++i) {
    const std::string& body = bodies[i];
    SCOPED_TRACE(body.substr(0, 120));
    const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>";
    KorValue unused;
    EXPECT_EQ(KorMessageTreeFromCF(KorXmlToPropertyList(document).Get(), &unused), direct_reading[i]);
    KorMessageBufferPtr message = KorXmlToMessage(document);
    ASSERT_TRUE(message);
    KorValue direct, through_xml;
    const bool read = KorMessageToValue(message->bytes, message->length, &direct);
    const bool read_xml = KorXmlTextToValue(KorMessageToXml(message->bytes, message->length), &through_xml);
    EXPECT_EQ(read, read_xml);
    EXPECT_TRUE(SameTree(direct, through_xml));
  }
}

}  // namespace
