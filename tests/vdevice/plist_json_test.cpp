// The profile notation for property lists: every plist type has a JSON form and back.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "plist_json.h"

namespace vdevice {
namespace {

PlistPtr FromJsonText(const char* text, std::string* error) {
  rapidjson::Document document;
  document.Parse(text);
  EXPECT_FALSE(document.HasParseError()) << text;
  return PlistFromJson(document, error);
}

TEST(PlistJson, PlainJsonValuesMapToTheirPlistTypes) {
  std::string error;
  PlistPtr dict = FromJsonText(R"({"s":"text","i":42,"big":18446744073709551615,"r":1.5,"b":true,
                                  "a":[1,"x"],"d":{"k":false}})", &error);
  ASSERT_TRUE(dict) << error;
  EXPECT_EQ(DictString(dict.get(), "s"), "text");
  EXPECT_EQ(DictUnsigned(dict.get(), "i"), 42u);
  EXPECT_EQ(DictUnsigned(dict.get(), "big"), UINT64_MAX);
  EXPECT_EQ(plist_get_node_type(plist_dict_get_item(dict.get(), "r")), PLIST_REAL);
  EXPECT_EQ(DictBool(dict.get(), "b"), true);
  EXPECT_EQ(plist_array_get_size(DictItem(dict.get(), "a", PLIST_ARRAY)), 2u);
  EXPECT_EQ(DictBool(DictItem(dict.get(), "d", PLIST_DICT), "k"), false);
}

TEST(PlistJson, MarkersGiveDataDatesAndWholeReals) {
  std::string error;
  PlistPtr dict = FromJsonText(R"({"data":{"$data":"AAEC/w=="},"date":{"$date":"2023-11-20T18:30:00Z"},
                                  "real":{"$real":2}})", &error);
  ASSERT_TRUE(dict) << error;
  EXPECT_EQ(DictData(dict.get(), "data"), std::string("\x00\x01\x02\xff", 4));
  plist_t date = DictItem(dict.get(), "date", PLIST_DATE);
  ASSERT_NE(date, nullptr);
  EXPECT_EQ(UnixSecondsOfDate(date), 1700505000);
  plist_t real = DictItem(dict.get(), "real", PLIST_REAL);
  ASSERT_NE(real, nullptr);
  double value = 0;
  plist_get_real_val(real, &value);
  EXPECT_EQ(value, 2.0);
}

TEST(PlistJson, KeyOrderIsKept) {
  std::string error;
  PlistPtr dict = FromJsonText(R"({"Command":"AssetMetrics","Params":{},"Session":0})", &error);
  ASSERT_TRUE(dict);
  EXPECT_EQ(DictKeys(dict.get()), (std::vector<std::string>{"Command", "Params", "Session"}));
}

TEST(PlistJson, RoundTripThroughJsonKeepsEveryType) {
  std::string error;
  const char* text = R"({"a":[1,2.5,{"$real":3}],"b":{"$data":"aGVsbG8="},"c":{"$date":"2001-01-01T00:00:00Z"},
                        "d":{"nested":{"deeper":"x"}},"e":false})";
  PlistPtr original = FromJsonText(text, &error);
  ASSERT_TRUE(original) << error;
  rapidjson::Document document;
  rapidjson::Value json = JsonFromPlist(original.get(), document.GetAllocator());
  PlistPtr again = PlistFromJson(json, &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(ToXml(original.get()), ToXml(again.get()));
}

TEST(PlistJson, RejectsWhatAPlistCannotHold) {
  for (const char* text : {R"({"x":null})", R"({"x":{"$bogus":1}})", R"({"x":{"$data":"@@@"}})",
                           R"({"x":{"$date":"2023-02-30T00:00:00Z"}})", R"({"x":{"$date":"yesterday"}})",
                           R"({"x":{"$data":5}})"}) {
    std::string error;
    EXPECT_FALSE(FromJsonText(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(PlistJson, Base64HandlesEveryPaddingLength) {
  for (const std::string& bytes : std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xff\x10", 3)}) {
    std::string decoded;
    ASSERT_TRUE(Base64Decode(Base64Encode(bytes), &decoded));
    EXPECT_EQ(decoded, bytes);
  }
  std::string ignored;
  EXPECT_FALSE(Base64Decode("abc", &ignored));
}

TEST(PlistJson, TimestampsRoundTripAndRejectBadText) {
  for (int64_t seconds : {0LL, 978307200LL, 1700505000LL, 4102444799LL}) {
    int64_t parsed = -1;
    ASSERT_TRUE(ParseUtcTimestamp(FormatUtcTimestamp(seconds), &parsed));
    EXPECT_EQ(parsed, seconds);
  }
  int64_t ignored;
  EXPECT_FALSE(ParseUtcTimestamp("2023-11-20T18:30:00", &ignored));
  EXPECT_FALSE(ParseUtcTimestamp("2023-11-20T25:30:00Z", &ignored));
  EXPECT_FALSE(ParseUtcTimestamp("2023-11-20T18:30:00Zjunk", &ignored));
}

}  // namespace
}  // namespace vdevice
