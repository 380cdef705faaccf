// CoreFoundation values of the device framework into the value tree.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "framework_environment.h"
#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/kor_service_message.h"

namespace {

KorCFHolder PlistFromXml(const std::string& body) {
  return KorXmlToPropertyList("<plist version=\"1.0\">" + body + "</plist>");
}

TEST(CFValueTest, DictionaryConvertsEveryKindAndSkipsDates) {
  REQUIRE_FRAMEWORK();
  KorCFHolder plist = PlistFromXml(
      "<dict><key>name</key><string>iPhone</string><key>bytes</key><data>Cv8=</data>"
      "<key>flag</key><true/><key>big</key><integer>5000000000</integer><key>ratio</key><real>0.25</real>"
      "<key>when</key><date>2024-01-01T00:00:00Z</date><key>list</key><array><string>a</string>"
      "<date>2024-01-01T00:00:00Z</date><integer>3</integer></array><key>inner</key><dict><key>x</key>"
      "<integer>1</integer></dict></dict>");
  ASSERT_TRUE(plist);
  KorValue value;
  ASSERT_TRUE(KorCFToValue(plist.Get(), &value));
  const auto& dict = value.AsDictionary();
  EXPECT_EQ(dict->Get("name").AsString(), "iPhone");
  EXPECT_EQ(dict->Get("bytes").AsString(), "0AFF");
  EXPECT_TRUE(dict->Get("flag").AsBool());
  EXPECT_EQ(dict->Get("big").AsInteger(), 5000000000);
  EXPECT_DOUBLE_EQ(dict->Get("ratio").AsDouble(), 0.25);
  EXPECT_FALSE(dict->Has("when"));
  ASSERT_EQ(dict->Get("list").AsArray().size(), 2u);
  EXPECT_EQ(dict->Get("inner").AsDictionary()->Get("x").AsInteger(), 1);
}

TEST(CFValueTest, NonAsciiOrLongStringsAreLeftOutButUtf8ReadingKeepsThem) {
  REQUIRE_FRAMEWORK();
  KorCFHolder plist = PlistFromXml("<dict><key>name</key><string>Zo\xC3\xAB</string><key>long</key><string>" +
                                   std::string(300, 'l') + "</string><key>ok</key><string>" +
                                   std::string(259, 'k') + "</string></dict>");
  KorValue value;
  ASSERT_TRUE(KorCFToValue(plist.Get(), &value));
  EXPECT_FALSE(value.AsDictionary()->Has("name"));
  EXPECT_FALSE(value.AsDictionary()->Has("long"));
  EXPECT_TRUE(value.AsDictionary()->Has("ok"));

  KorCFHolder name = KorMakeString("Zo\xC3\xAB's iPhone \xF0\x9F\x93\xB1");
  std::string text;
  ASSERT_TRUE(KorCFStringToUtf8(name.Get(), &text));
  EXPECT_EQ(text, "Zo\xC3\xAB's iPhone \xF0\x9F\x93\xB1");
  KorValue single;
  EXPECT_FALSE(KorCFToValue(name.Get(), &single));
}

TEST(CFValueTest, NumbersKeepTheirWidthAndFloatsRoundHalfUp) {
  REQUIRE_FRAMEWORK();
  KorCFHolder plist = PlistFromXml("<array><real>2.5</real><real>-2.5</real><integer>7</integer></array>");
  auto array = plist.As<CFArrayRef>();
  int64_t number = 0;
  ASSERT_TRUE(KorCFNumberToInt64(MobileApi().CFArrayGetValueAtIndex(array, 0), &number));
  EXPECT_EQ(number, 3);
  ASSERT_TRUE(KorCFNumberToInt64(MobileApi().CFArrayGetValueAtIndex(array, 1), &number));
  EXPECT_EQ(number, -2);
  ASSERT_TRUE(KorCFNumberToInt64(MobileApi().CFArrayGetValueAtIndex(array, 2), &number));
  EXPECT_EQ(number, 7);
  EXPECT_FALSE(KorCFNumberToInt64(nullptr, &number));
  KorValue converted;
  ASSERT_TRUE(KorCFToValue(MobileApi().CFArrayGetValueAtIndex(array, 0), &converted));
  EXPECT_TRUE(converted.IsDouble());
}

// CFNumberCreate is not among the host's entry points; the test takes it from the library.
KorCFHolder MakeNumber(CFNumberType type, const void* value) {
  using CreateFn = CFNumberRef (*)(CFAllocatorRef, CFNumberType, const void*);
  void* library = dlopen(kCoreFoundationLibrary, RTLD_NOW | RTLD_NOLOAD);
  auto create = library ? reinterpret_cast<CreateFn>(dlsym(library, "CFNumberCreate")) : nullptr;
  return KorCFHolder(create ? create(nullptr, type, value) : nullptr);
}

TEST(CFValueTest, OnlyNumberTypes3And9And4And6AreConverted) {
  REQUIRE_FRAMEWORK();
  double real = 1.5;
  int32_t small = -5;
  int64_t large = int64_t{1} << 40;
  KorCFHolder as_double = MakeNumber(kCFNumberDoubleType, &real);
  KorCFHolder as_float64 = MakeNumber(kCFNumberFloat64Type, &real);
  KorCFHolder as_int = MakeNumber(kCFNumberIntType, &small);
  KorCFHolder as_sint64 = MakeNumber(kCFNumberSInt64Type, &large);
  ASSERT_TRUE(as_double && as_float64 && as_int && as_sint64);
  KorValue value;
  EXPECT_FALSE(KorCFToValue(as_double.Get(), &value));  // type 13 is left out
  ASSERT_TRUE(KorCFToValue(as_float64.Get(), &value));
  EXPECT_DOUBLE_EQ(value.AsDouble(), 1.5);
  ASSERT_TRUE(KorCFToValue(as_int.Get(), &value));
  EXPECT_TRUE(value.IsInt32());
  EXPECT_EQ(value.AsInteger(), -5);
  ASSERT_TRUE(KorCFToValue(as_sint64.Get(), &value));
  EXPECT_TRUE(value.IsInt64());
  EXPECT_EQ(value.AsInteger(), large);
}

}  // namespace
