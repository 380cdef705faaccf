// DeviceLink messages: host templates on the wire, the wait-for and read-one policies, and the
// message length bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <thread>

#include "framework_environment.h"
#include "iOSAPI/kor_device_link.h"
#include "scripted_device.h"

namespace {

TEST(DeviceLinkTest, HostMessageIsABinaryArrayWithEscapedTexts) {
  REQUIRE_FRAMEWORK();
  ScriptedDevice device;
  KorDeviceLink link(device.HostIo(), KorPlistDoctype::kAppleComputer);
  ASSERT_TRUE(link.Send({KorPlistString("DLMessageProcessMessage"),
                         KorPlistDict({{"Password", KorPlistString("a<b&c\"'>")}, {"N", KorPlistInteger(-13)}})}));
  std::string prefix = device.ReadRaw(4);
  const auto* p = reinterpret_cast<const uint8_t*>(prefix.data());
  const uint32_t length = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  std::string body = device.ReadRaw(length);
  ASSERT_EQ(body.substr(0, 8), "bplist00");
  KorValue message;
  ASSERT_TRUE(KorDLDecode(reinterpret_cast<const uint8_t*>(body.data()), body.size(), &message));
  EXPECT_EQ(KorDLMessageName(message), "DLMessageProcessMessage");
  ASSERT_EQ(message.AsArray().size(), 2u);
  EXPECT_EQ(message.AsArray()[1].AsDictionary()->Get("Password").AsString(), "a<b&c\"'>");
  EXPECT_EQ(message.AsArray()[1].AsDictionary()->Get("N").AsInteger(), -13);
}

// A message repeated (an acknowledgement per batch) goes out with the same bytes each time, and
// one that differs after it is its own; so is a large one sent between two small ones.
TEST(DeviceLinkTest, RepeatedMessagesKeepTheirBytesAndOthersTheirOwn) {
  REQUIRE_FRAMEWORK();
  std::vector<std::string> sent;
  KorServiceIo io;
  io.send = [&sent](const void* bytes, size_t length) {
    sent.emplace_back(static_cast<const char*>(bytes), length);
    return static_cast<int64_t>(length);
  };
  io.receive = [](void*, size_t) -> int64_t { return -1; };
  KorDeviceLink link(io, KorPlistDoctype::kApple);
  const std::vector<std::string> ack{KorPlistString("SDMessageAcknowledgeChangesFromDevice"), KorPlistString("c")};
  const std::vector<std::string> other{KorPlistString("SDMessageFinishSessionOnDevice"), KorPlistString("c")};
  const std::vector<std::string> large{KorPlistString("SDMessageProcessChanges"), KorPlistString(std::string(8000, 'x'))};
  for (const auto* message : {&ack, &ack, &other, &ack, &large, &large, &ack}) ASSERT_TRUE(link.Send(*message));
  ASSERT_EQ(sent.size(), 14u);  // a length, then a body, per message
  auto body = [&sent](size_t message) { return sent[2 * message + 1]; };
  auto name = [&](size_t message) {
    KorValue decoded;
    EXPECT_TRUE(KorDLDecode(reinterpret_cast<const uint8_t*>(body(message).data()), body(message).size(), &decoded));
    return KorDLMessageName(decoded);
  };
  EXPECT_EQ(body(0), body(1));
  EXPECT_EQ(body(0), body(3));
  EXPECT_EQ(body(0), body(6));
  EXPECT_EQ(body(4), body(5));
  EXPECT_EQ(name(2), "SDMessageFinishSessionOnDevice");
  EXPECT_EQ(name(4), "SDMessageProcessChanges");
  EXPECT_EQ(name(6), "SDMessageAcknowledgeChangesFromDevice");
}

// A parsed message answers "is it an array, does it hold the name" as its value tree does.
TEST(DeviceLinkTest, ParsedMessagesTellArrayAndNameAsTheirTreesDo) {
  REQUIRE_FRAMEWORK();
  const std::string name = "SDMessageProcessChanges";
  for (const std::string& body :
       {KorPlistArray({KorPlistString(name), KorPlistString("c"), "<dict/>"}),
        KorPlistArray({KorPlistString("x"), KorPlistString("sdmessageprocesschanges")}),
        KorPlistArray({KorPlistString(name + "X")}), KorPlistArray({KorPlistString(" ")}),
        KorPlistArray({KorPlistInteger(1), "<dict/>", KorPlistArray({KorPlistString(name)})}), std::string("<dict/>"),
        KorPlistDict({{name, KorPlistString(name)}})}) {
    SCOPED_TRACE(body);
    const std::string xml = KorPlistDocument(body, KorPlistDoctype::kApple);
    KorMessageBufferPtr message = KorXmlToMessage(xml);
    ASSERT_TRUE(message);
    KorValue tree;
    ASSERT_TRUE(KorDLDecode(message->bytes, message->length, &tree));
    KorCFHolder parsed = KorMessageToPropertyList(message->bytes, message->length);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(KorDLParsedIsArray(parsed), tree.IsArray());
    EXPECT_EQ(KorDLParsedHoldsName(parsed, name), KorDLHoldsName(tree, name));
    KorValue later;
    ASSERT_TRUE(KorDLDecodeParsed(parsed, &later));
    EXPECT_EQ(KorDLMessageName(later), KorDLMessageName(tree));
  }
}

TEST(DeviceLinkTest, WaitForReadsUntilTheNameArrivesIgnoringCase) {
  REQUIRE_FRAMEWORK();
  ScriptedDevice device;
  KorDeviceLink link(device.HostIo(), KorPlistDoctype::kApple);
  device.Send({KorPlistString("DLMessageSomethingElse"), KorPlistInteger(1)});
  device.Send({KorPlistString("x"), KorPlistString("dlmessagedeviceready")});
  device.Send({KorPlistString("DLMessageDeviceReady")});  // left for the next read-one
  EXPECT_TRUE(link.SendAndWaitFor({KorPlistString("DLMessageVersionExchange")}, "DLMessageDeviceReady"));
  EXPECT_EQ(KorDLMessageName(device.Read()), "DLMessageVersionExchange");
  EXPECT_TRUE(link.SendAndReadOne({KorPlistString("Hello")}));
  // A reply that is not an array ends the wait; so does a closed connection.
  const std::string dict = KorPlistDocument("<dict/>", KorPlistDoctype::kApple);
  device.SendRaw(BigEndian(static_cast<uint32_t>(dict.size())) + dict);
  device.Send({KorPlistString("DLMessageDeviceReady")});
  EXPECT_FALSE(link.SendAndWaitFor({KorPlistString("Again")}, "DLMessageDeviceReady"));
  EXPECT_TRUE(link.SendAndWaitFor({KorPlistString("Again")}, "DLMessageDeviceReady"));
  device.Hangup();
  EXPECT_FALSE(link.SendAndWaitFor({KorPlistString("Again")}, "DLMessageDeviceReady"));
  EXPECT_FALSE(link.SendAndReadOne({KorPlistString("Again")}));
}

TEST(DeviceLinkTest, LengthsOutsideOneToTenMebibytesEndTheExchange) {
  for (uint32_t bad : {0u, kKorDLMaxMessage + 1, 0xFFFFFFFFu}) {
    std::string input = BigEndian(bad) + "garbage";
    KorDeviceLink link(MemoryIo(&input), KorPlistDoctype::kApple);
    EXPECT_FALSE(link.RawRead()) << bad;
  }
  std::string input = BigEndian(kKorDLMaxMessage) + std::string(kKorDLMaxMessage, 'm') + BigEndian(1) + "x";
  KorDeviceLink link(MemoryIo(&input), KorPlistDoctype::kApple);
  std::vector<uint8_t> frame;
  ASSERT_TRUE(link.ReceiveFrame(&frame));
  EXPECT_EQ(frame.size(), kKorDLMaxMessage);
  ASSERT_TRUE(link.ReceiveFrame(&frame));
  EXPECT_EQ(frame, std::vector<uint8_t>{'x'});
  EXPECT_FALSE(link.ReceiveFrame(&frame));  // nothing left
}

TEST(DeviceLinkTest, UndecodableMessagesAreReportedAsUnusable) {
  REQUIRE_FRAMEWORK();
  std::string input = BigEndian(5) + "bogus";
  KorDeviceLink link(MemoryIo(&input), KorPlistDoctype::kApple);
  KorValue value;
  EXPECT_EQ(link.Receive(&value), KorDLReceive::kUnusable);
  EXPECT_EQ(link.Receive(&value), KorDLReceive::kFailed);
}

}  // namespace
