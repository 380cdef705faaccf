#include <gtest/gtest.h>

#include "platform/kst_utility_string.h"
#include "platform/kst_utility_sys.h"

namespace {

TEST(CompareVersionTest, OrdersDottedVersionsNumerically) {
  EXPECT_GT(KSTUtilityString::CompareVersion("1.10", "1.9"), 0);
  EXPECT_LT(KSTUtilityString::CompareVersion("7.0", "16.4.1"), 0);
  EXPECT_EQ(KSTUtilityString::CompareVersion("2.0", "2"), 0);
  EXPECT_EQ(KSTUtilityString::CompareVersion("2.0.0", "2.00"), 0);
  EXPECT_GT(KSTUtilityString::CompareVersion("2.0.1", "2"), 0);
  EXPECT_LT(KSTUtilityString::CompareVersion("", "0.1"), 0);
  EXPECT_EQ(KSTUtilityString::CompareVersion(nullptr, "0"), 0);
  EXPECT_GT(KSTUtilityString::CompareVersion("1.0b", "1.0a"), 0);
  EXPECT_GT(KSTUtilityString::CompareVersion("99999999999999999999.1", "9.1"), 0);
}

TEST(TextConversionTest, RoundTripsAndReplacesBrokenSequences) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\xB1";
  char* back = KSTUtilityString::ConvertUnicodeToUtf8(KSTUtilityString::Utf8ToWide(text).c_str());
  EXPECT_EQ(std::string(back), text);
  KSTUtilityString::Free(back);

  EXPECT_EQ(KSTUtilityString::Utf8ToWide("a\xC3").size(), 2u);       // truncated sequence
  EXPECT_EQ(KSTUtilityString::Utf8ToWide("\xC0\xAF").size(), 1u);    // overlong form
  EXPECT_EQ(KSTUtilityString::Utf8ToWide("\xED\xA0\x80")[0], 0xFFFD);  // surrogate
  EXPECT_FALSE(KSTUtilityString::IsValidUtf8("\xFF"));
  EXPECT_TRUE(KSTUtilityString::IsValidUtf8(text));

  wchar_t* wide = KSTUtilityString::ConvertUtf8ToUnicode(nullptr);
  EXPECT_EQ(wide[0], L'\0');
  KSTUtilityString::Free(wide);
}

TEST(AppleDateTest, EpochIsTheFirstOfJanuary2001) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(0), "2001-01-01 00:00:00");
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(86400.9), "2001-01-02 00:00:00");
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(730904709.0), "2024-02-29 13:05:09");
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(-31588531201.0), "0999-12-31 23:59:59");
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(0.0 / 0.0), "");
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(1e300), "");
  EXPECT_EQ(KSTUtilitySys::Convert2001GMTtoDate(-1e300), "");
}

}  // namespace
