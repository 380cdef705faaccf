// Property lists through the CF entry points: binary and XML round trips of nested values, the
// write stream the host uses to build binary messages, and hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework_loader.h"

namespace devicefw_test {
namespace {

CfRef DataOf(const std::string& bytes) {
  return CfRef(Fw().CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()), static_cast<CFIndex>(bytes.size())));
}

std::string BytesOf(CFTypeRef data) {
  auto ref = static_cast<CFDataRef>(data);
  return std::string(reinterpret_cast<const char*>(Fw().CFDataGetBytePtr(ref)), static_cast<size_t>(Fw().CFDataGetLength(ref)));
}

CfRef Parse(const std::string& bytes, CFPropertyListFormat* format = nullptr) {
  CfRef data = DataOf(bytes);
  return CfRef(Fw().CFPropertyListCreateWithData(nullptr, data.get<CFDataRef>(), kCFPropertyListImmutable, format, nullptr));
}

// Serialises through a write stream, as the host builds its messages.
std::string WriteToStream(CFTypeRef value, CFPropertyListFormat format) {
  CfRef stream(Fw().CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  auto writer = stream.get<CFWriteStreamRef>();
  if (!Fw().CFWriteStreamOpen(writer)) return "";
  const CFIndex written = Fw().CFPropertyListWriteToStream(value, writer, format, nullptr);
  CfRef data(Fw().CFWriteStreamCopyProperty(writer, Fw().kCFStreamPropertyDataWritten));
  Fw().CFWriteStreamClose(writer);
  if (written <= 0 || !data) return "";
  EXPECT_EQ(Fw().CFDataGetLength(data.get<CFDataRef>()), written);
  return BytesOf(data.get());
}

// {"name": "Zoë", "count": -7, "ratio": 0.25, "ok": true, "blob": <0AFF>, "when": date 100.5,
//  "list": ["a", {"deep": [1]}]}
CfRef MakeNestedValue() {
  CfRef root(Fw().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  auto dict = root.get<CFMutableDictionaryRef>();
  int64_t count = -7;
  double ratio = 0.25;
  int32_t one = 1;
  const UInt8 blob[] = {0x0A, 0xFF};
  Fw().CFDictionaryAddValue(dict, MakeString("name").get(), MakeString("Zo\xC3\xAB").get());
  Fw().CFDictionaryAddValue(dict, MakeString("count").get(), MakeNumber(kCFNumberSInt64Type, &count).get());
  Fw().CFDictionaryAddValue(dict, MakeString("ratio").get(), MakeNumber(kCFNumberFloat64Type, &ratio).get());
  Fw().CFDictionaryAddValue(dict, MakeString("ok").get(), Fw().kCFBooleanTrue);
  Fw().CFDictionaryAddValue(dict, MakeString("blob").get(), CfRef(Fw().CFDataCreate(nullptr, blob, 2)).get());
  Fw().CFDictionaryAddValue(dict, MakeString("when").get(), CfRef(Fw().CFDateCreate(nullptr, 100.5)).get());
  CfRef inner_list(Fw().CFArrayCreateMutable(nullptr, 0, nullptr));
  Fw().CFArrayAppendValue(inner_list.get<CFMutableArrayRef>(), MakeNumber(kCFNumberSInt32Type, &one).get());
  CfRef inner(Fw().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  Fw().CFDictionaryAddValue(inner.get<CFMutableDictionaryRef>(), MakeString("deep").get(), inner_list.get());
  CfRef list(Fw().CFArrayCreateMutable(nullptr, 0, nullptr));
  Fw().CFArrayAppendValue(list.get<CFMutableArrayRef>(), MakeString("a").get());
  Fw().CFArrayAppendValue(list.get<CFMutableArrayRef>(), inner.get());
  Fw().CFDictionaryAddValue(dict, MakeString("list").get(), list.get());
  return root;
}

// XML keeps dates to the whole second, as CoreFoundation writes them.
void ExpectNestedValue(CFTypeRef value, CFAbsoluteTime when = 100.5) {
  ASSERT_EQ(Fw().CFGetTypeID(value), kCFTypeIDDictionary);
  auto dict = static_cast<CFDictionaryRef>(value);
  auto get = [&](const char* key) { return Fw().CFDictionaryGetValue(dict, Fw().__CFStringMakeConstantString(key)); };
  EXPECT_EQ(TextOf(get("name")), "Zo\xC3\xAB");
  int64_t count = 0;
  ASSERT_EQ(Fw().CFGetTypeID(get("count")), kCFTypeIDNumber);
  EXPECT_EQ(Fw().CFNumberGetType(static_cast<CFNumberRef>(get("count"))), kCFNumberSInt64Type);
  EXPECT_TRUE(Fw().CFNumberGetValue(static_cast<CFNumberRef>(get("count")), kCFNumberSInt64Type, &count));
  EXPECT_EQ(count, -7);
  double ratio = 0;
  EXPECT_EQ(Fw().CFNumberGetType(static_cast<CFNumberRef>(get("ratio"))), kCFNumberFloat64Type);
  EXPECT_TRUE(Fw().CFNumberGetValue(static_cast<CFNumberRef>(get("ratio")), kCFNumberFloat64Type, &ratio));
  EXPECT_EQ(ratio, 0.25);
  EXPECT_EQ(get("ok"), Fw().kCFBooleanTrue);
  EXPECT_EQ(BytesOf(get("blob")), std::string("\x0A\xFF", 2));
  ASSERT_EQ(Fw().CFGetTypeID(get("when")), kCFTypeIDDate);
  EXPECT_DOUBLE_EQ(Fw().CFDateGetAbsoluteTime(static_cast<CFDateRef>(get("when"))), when);
  auto list = static_cast<CFArrayRef>(get("list"));
  ASSERT_EQ(Fw().CFArrayGetCount(list), 2);
  auto inner = static_cast<CFDictionaryRef>(Fw().CFArrayGetValueAtIndex(list, 1));
  auto deep = static_cast<CFArrayRef>(Fw().CFDictionaryGetValue(inner, Fw().__CFStringMakeConstantString("deep")));
  EXPECT_EQ(Fw().CFArrayGetCount(deep), 1);
}

class CfPropertyList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Fw().error, ""); }
};

TEST_F(CfPropertyList, BinaryRoundTripKeepsNestedValues) {
  CfRef value = MakeNestedValue();
  const std::string binary = WriteToStream(value.get(), kCFPropertyListBinaryFormat_v1_0);
  ASSERT_EQ(binary.substr(0, 8), "bplist00");
  CFPropertyListFormat format = 0;
  CfRef parsed = Parse(binary, &format);
  EXPECT_EQ(format, kCFPropertyListBinaryFormat_v1_0);
  ExpectNestedValue(parsed.get());
  EXPECT_TRUE(Fw().CFEqual(parsed.get(), value.get()));
}

TEST_F(CfPropertyList, XmlRoundTripKeepsNestedValues) {
  CfRef value = MakeNestedValue();
  CfRef xml(Fw().CFPropertyListCreateXMLData(nullptr, value.get()));
  ASSERT_TRUE(xml);
  const std::string text = BytesOf(xml.get());
  EXPECT_NE(text.find("<key>count</key>"), std::string::npos);
  EXPECT_NE(text.find("<integer>-7</integer>"), std::string::npos);
  CfRef parsed(Fw().CFPropertyListCreateFromXMLData(nullptr, xml.get<CFDataRef>(), kCFPropertyListImmutable, nullptr));
  ExpectNestedValue(parsed.get(), 100.0);
  CFPropertyListFormat format = 0;
  CfRef again = Parse(WriteToStream(value.get(), kCFPropertyListXMLFormat_v1_0), &format);
  EXPECT_EQ(format, kCFPropertyListXMLFormat_v1_0);
  ExpectNestedValue(again.get(), 100.0);
}

TEST_F(CfPropertyList, ParsesTheHostsRequestTemplates) {
  const std::string request =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\"><dict><key>Request</key><string>GetValue</string>"
      "<key>Size</key><integer>4096</integer><key>Flag</key><false/></dict></plist>";
  CfRef parsed(Fw().CFPropertyListCreateFromXMLData(nullptr, DataOf(request).get<CFDataRef>(), 0, nullptr));
  ASSERT_EQ(Fw().CFGetTypeID(parsed.get()), kCFTypeIDDictionary);
  auto dict = parsed.get<CFDictionaryRef>();
  EXPECT_EQ(TextOf(Fw().CFDictionaryGetValue(dict, MakeString("Request").get())), "GetValue");
  EXPECT_EQ(Fw().CFNumberGetType(static_cast<CFNumberRef>(Fw().CFDictionaryGetValue(dict, MakeString("Size").get()))),
            kCFNumberSInt64Type);
  EXPECT_FALSE(Fw().CFBooleanGetValue(static_cast<CFBooleanRef>(Fw().CFDictionaryGetValue(dict, MakeString("Flag").get()))));
}

TEST_F(CfPropertyList, StreamRefusesWritesUnlessOpenAndUnknownProperties) {
  CfRef stream(Fw().CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  auto writer = stream.get<CFWriteStreamRef>();
  CfRef value = MakeString("x");
  EXPECT_EQ(Fw().CFPropertyListWriteToStream(value.get(), writer, kCFPropertyListBinaryFormat_v1_0, nullptr), 0);
  ASSERT_TRUE(Fw().CFWriteStreamOpen(writer));
  EXPECT_EQ(Fw().CFPropertyListWriteToStream(value.get(), writer, kCFPropertyListOpenStepFormat, nullptr), 0);
  EXPECT_GT(Fw().CFPropertyListWriteToStream(value.get(), writer, kCFPropertyListBinaryFormat_v1_0, nullptr), 0);
  EXPECT_EQ(Fw().CFWriteStreamCopyProperty(writer, MakeString("kCFStreamPropertyOther").get<CFStringRef>()), nullptr);
  Fw().CFWriteStreamClose(writer);
  EXPECT_EQ(Fw().CFPropertyListWriteToStream(value.get(), writer, kCFPropertyListBinaryFormat_v1_0, nullptr), 0);
  CfRef written(Fw().CFWriteStreamCopyProperty(writer, Fw().kCFStreamPropertyDataWritten));
  EXPECT_EQ(BytesOf(written.get()).substr(0, 8), "bplist00");
}

TEST_F(CfPropertyList, ValuesThatPropertyListsCannotHoldFailToSerialise) {
  int32_t one = 1;
  CfRef dictionary(Fw().CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  Fw().CFDictionaryAddValue(dictionary.get<CFMutableDictionaryRef>(), MakeNumber(kCFNumberSInt32Type, &one).get(),
                            MakeString("v").get());
  EXPECT_EQ(Fw().CFPropertyListCreateXMLData(nullptr, dictionary.get()), nullptr);
  CfRef url(Fw().CFURLCreateWithFileSystemPath(nullptr, MakeString("/x").get<CFStringRef>(), 0, false));
  EXPECT_EQ(WriteToStream(url.get(), kCFPropertyListBinaryFormat_v1_0), "");
  EXPECT_EQ(Fw().CFPropertyListCreateXMLData(nullptr, nullptr), nullptr);
}

// ---- hostile input ----------------------------------------------------------------------------

// A binary property list of `levels` arrays, each holding the next one `fan_out` times.
std::string NestedBinaryPlist(size_t levels, size_t fan_out) {
  std::string objects;
  std::vector<uint32_t> offsets;
  for (size_t i = 0; i < levels; ++i) {
    offsets.push_back(static_cast<uint32_t>(8 + objects.size()));
    if (i + 1 == levels) {
      objects.push_back('\x09');  // true
      break;
    }
    objects.push_back(static_cast<char>(0xA0 | fan_out));
    for (size_t k = 0; k < fan_out; ++k) {
      const auto next = static_cast<uint32_t>(i + 1);
      for (int shift = 24; shift >= 0; shift -= 8) objects.push_back(static_cast<char>(next >> shift));
    }
  }
  std::string out = "bplist00" + objects;
  const auto table_offset = static_cast<uint64_t>(out.size());
  for (uint32_t offset : offsets) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(offset >> shift));
  }
  std::string trailer(6, '\0');
  trailer.push_back(4);  // offset size
  trailer.push_back(4);  // reference size
  for (uint64_t field : {static_cast<uint64_t>(offsets.size()), uint64_t{0}, table_offset}) {
    for (int shift = 56; shift >= 0; shift -= 8) trailer.push_back(static_cast<char>(field >> shift));
  }
  return out + trailer;
}

TEST_F(CfPropertyList, ModestBinaryNestingAndSharingParse) {
  EXPECT_TRUE(Parse(NestedBinaryPlist(100, 1)));
  EXPECT_TRUE(Parse(NestedBinaryPlist(12, 2)));  // 4095 nodes once expanded
}

TEST_F(CfPropertyList, HostileBinaryShapesAreRefusedInsteadOfCrashing) {
  EXPECT_FALSE(Parse(NestedBinaryPlist(200000, 1)));  // would overflow the parser's stack
  EXPECT_FALSE(Parse(NestedBinaryPlist(40, 2)));      // 2^40 nodes once shared references are copied
  std::string cyclic = NestedBinaryPlist(3, 1);
  cyclic[8 + 5 + 4] = 0;  // the second array now refers back to the first
  EXPECT_FALSE(Parse(cyclic));
  std::string truncated = NestedBinaryPlist(10, 1);
  EXPECT_FALSE(Parse(truncated.substr(0, truncated.size() - 5)));
  std::string bad_offsets = NestedBinaryPlist(10, 1);
  bad_offsets[bad_offsets.size() - 9] = 0x7F;  // top object beyond the object count
  EXPECT_FALSE(Parse(bad_offsets));
}

TEST_F(CfPropertyList, HostileXmlIsRefusedInsteadOfCrashing) {
  std::string deep = "<plist version=\"1.0\">";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  deep += "</plist>";
  EXPECT_FALSE(Parse(deep));
  std::string many_empty = "<plist version=\"1.0\"><array>";
  for (int i = 0; i < 2000; ++i) many_empty += "<array/><dict/>";
  many_empty += "</array></plist>";
  CfRef parsed = Parse(many_empty);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(Fw().CFArrayGetCount(parsed.get<CFArrayRef>()), 4000);
  for (const std::string& junk : {std::string("not a plist"), std::string("<plist><dict><key>a</key></plist>"),
                                  std::string("bplist00"), std::string("\0\0\0", 3), std::string()}) {
    EXPECT_FALSE(Parse(junk)) << junk;
  }
  EXPECT_EQ(Fw().CFPropertyListCreateWithData(nullptr, nullptr, 0, nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace devicefw_test
