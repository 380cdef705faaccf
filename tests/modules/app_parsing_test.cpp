// The application module's readings of outside input that need no device: Base64 data of the
// value tree, icon answers, bundle identifiers used as device file names, and request texts
// that no identifier can reshape.
#include <gtest/gtest.h>

#include "iOSAPI/kor_base64.h"
#include "utility/module/app/kor_app_record.h"
#include "utility/module/app/kor_installer_answer.h"
#include "utility/module/app/kor_installer_requests.h"
#include "utility/module/app/kor_ipa_metadata.h"

namespace {

KorValue IconAnswer(const std::string& png_text) {
  auto dictionary = CIOSDictionary::Create();
  dictionary->Set("pngData", KorValue::String(png_text));
  return KorValue::MakeDictionary(dictionary);
}

TEST(AppParsingTest, Base64AsPropertyListXmlWrapsItIsDecodedAndBrokenTextIsRefused) {
  std::string bytes;
  ASSERT_TRUE(KorBase64Decode("\n\tiVBORw0K\n\tGgo=\n", &bytes));
  EXPECT_EQ(bytes, std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_TRUE(KorBase64Decode("", &bytes));
  EXPECT_TRUE(bytes.empty());
  for (const char* broken : {"%%%not-base64%%%", "iVBORw0K=Ggo", "iVB", "=AAA"}) {
    EXPECT_FALSE(KorBase64Decode(broken, &bytes)) << broken;
  }
}

TEST(AppParsingTest, IconAnswersGiveTheirPngOrNothing) {
  std::string png;
  EXPECT_TRUE(KorIconPngOfAnswer(IconAnswer("iVBORw0KGgo="), &png));
  EXPECT_EQ(png.size(), 8u);
  EXPECT_FALSE(KorIconPngOfAnswer(IconAnswer("@@not base64@@"), &png));
  EXPECT_TRUE(png.empty());
  EXPECT_FALSE(KorIconPngOfAnswer(IconAnswer(""), &png));
  EXPECT_FALSE(KorIconPngOfAnswer(KorValue::MakeDictionary(CIOSDictionary::Create()), &png));
  EXPECT_FALSE(KorIconPngOfAnswer(KorValue::String("pngData"), &png));
}

TEST(AppParsingTest, MetadataThatIsNotBase64LeavesTheRecordAsItWas) {
  rapidjson::Document record(rapidjson::kObjectType);
  record.AddMember("CFBundleIdentifier", "com.example.a", record.GetAllocator());
  EXPECT_FALSE(KorApplyITunesMetadata("***", &record, record.GetAllocator()));
  EXPECT_FALSE(KorApplyITunesMetadata("", &record, record.GetAllocator()));
  EXPECT_EQ(record.MemberCount(), 1u);
}

TEST(AppParsingTest, OnlyPlainBundleIdentifiersNameDeviceFiles) {
  for (const char* good : {"com.example.app", "a", "org.x-y_z.1"}) EXPECT_TRUE(KorIsUsableBundleId(good)) << good;
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x", "a/b", "com.example.app\n", "a b", std::string(256, 'a'),
                                std::string("a\0b", 3)}) {
    EXPECT_FALSE(KorIsUsableBundleId(bad)) << bad;
  }
}

TEST(AppParsingTest, RequestsEscapeTheIdentifierInsteadOfTakingItsMarkup) {
  std::string hostile = "x</string><key>Command</key><string>Browse&";
  std::string request = KorApplicationRequestXml("Uninstall", hostile);
  EXPECT_NE(request.find("<string>x&lt;/string&gt;&lt;key&gt;Command&lt;/key&gt;&lt;string&gt;Browse&amp;</string>"),
            std::string::npos);
  EXPECT_EQ(request.find("<string>Browse"), std::string::npos);
  std::string long_id(100000, 'a');
  EXPECT_NE(KorApplicationRequestXml("Archive", long_id).find(long_id), std::string::npos);
  EXPECT_NE(KorUpgradeRequestXml("general_storage/a.ipa").find("<string>Upgrade</string>"), std::string::npos);
}

}  // namespace
