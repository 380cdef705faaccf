// Property-list XML into the value tree.
#include <gtest/gtest.h>

#include "iOSAPI/kor_xml_value.h"

namespace {

KorValue Parse(const std::string& body) {
  KorValue value;
  EXPECT_TRUE(KorXmlTextToValue("<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>", &value));
  return value;
}

TEST(XmlValueTest, ScalarsFollowTheirTagsWithLenientNumbers) {
  KorValue value = Parse(
      "<dict><key>s</key><string>text</string><key>i</key><integer>12abc</integer>"
      "<key>z</key><integer>abc</integer><key>n</key><integer> -7</integer><key>r</key><real>2.5x</real>"
      "<key>t</key><TRUE/><key>f</key><false/><key>d</key><date>2024-01-02T03:04:05Z</date>"
      "<key>b</key><data>AAEC</data><key>u</key><unknown>1</unknown></dict>");
  const auto& dict = value.AsDictionary();
  ASSERT_TRUE(dict);
  EXPECT_EQ(dict->Get("s").AsString(), "text");
  EXPECT_TRUE(dict->Get("i").IsInt64());
  EXPECT_EQ(dict->Get("i").AsInteger(), 12);
  EXPECT_EQ(dict->Get("z").AsInteger(), 0);
  EXPECT_EQ(dict->Get("n").AsInteger(), -7);
  EXPECT_DOUBLE_EQ(dict->Get("r").AsDouble(), 2.5);
  EXPECT_TRUE(dict->Get("t").IsBool());
  EXPECT_TRUE(dict->Get("t").AsBool());
  EXPECT_FALSE(dict->Get("f").AsBool());
  EXPECT_EQ(dict->Get("d").AsString(), "2024-01-02T03:04:05Z");
  EXPECT_EQ(dict->Get("b").AsString(), "AAEC");
  EXPECT_FALSE(dict->Has("u"));
}

TEST(XmlValueTest, EntriesWithoutTextAreLeftOutExceptContainersAndBooleans) {
  KorValue value = Parse(
      "<dict><key>a</key><string/><key></key><string>x</string><key>e</key><dict/>"
      "<key>l</key><array/><key>ok</key><string>y</string></dict>");
  const auto& dict = value.AsDictionary();
  EXPECT_FALSE(dict->Has("a"));
  EXPECT_FALSE(dict->Has(""));
  EXPECT_TRUE(dict->Get("e").IsDictionary());
  EXPECT_TRUE(dict->Get("l").IsArray());
  EXPECT_EQ(dict->Get("ok").AsString(), "y");
}

TEST(XmlValueTest, ArraysSkipDatesAndDataAndNestContainers) {
  KorValue value = Parse(
      "<dict><key>list</key><array><date>2024-01-01T00:00:00Z</date><string>one</string><data>AA==</data>"
      "<integer>2</integer><dict><key>k</key><true/></dict><array><real>1.5</real></array></array></dict>");
  KorValue list_value = value.AsDictionary()->Get("list");  // Get hands out a copy
  const auto& list = list_value.AsArray();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].AsString(), "one");
  EXPECT_EQ(list[1].AsInteger(), 2);
  EXPECT_TRUE(list[2].AsDictionary()->Get("k").AsBool());
  EXPECT_DOUBLE_EQ(list[3].AsArray()[0].AsDouble(), 1.5);
}

TEST(XmlValueTest, KeysAreOrderedByBytesAndStoredOnce) {
  KorValue value = Parse(
      "<dict><key>b</key><integer>1</integer><key>B</key><integer>2</integer><key>a</key><integer>3</integer>"
      "<key>b</key><integer>4</integer></dict>");
  const auto& dict = value.AsDictionary();
  EXPECT_EQ(dict->Keys(), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_EQ(dict->Get("b").AsInteger(), 4);
}

TEST(XmlValueTest, HostileDocumentsAreRefusedOrBounded) {
  KorValue value;
  EXPECT_FALSE(KorXmlTextToValue("", &value));
  EXPECT_FALSE(KorXmlTextToValue("<plist><dict>", &value));
  EXPECT_FALSE(KorXmlTextToValue("<plist></plist>", &value));
  std::string deep;
  for (int i = 0; i < 400; ++i) deep += "<dict><key>k</key>";
  deep += "<string>x</string>";
  for (int i = 0; i < 400; ++i) deep += "</dict>";
  // Either the parser refuses the depth or the conversion stops descending; it never crashes.
  KorValue nested;
  if (KorXmlTextToValue("<plist>" + deep + "</plist>", &nested)) {
    EXPECT_TRUE(nested.IsDictionary());
  }
}

}  // namespace
