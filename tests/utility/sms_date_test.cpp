// Apple-epoch dates as local time text, in seconds and nanoseconds, in zones whose offsets change
// at odd times of day.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>

#include "utility/module/sms/kor_sms_date.h"

namespace {

std::string Reference(int64_t apple_seconds) {
  time_t t = static_cast<time_t>(978307200 + apple_seconds);
  struct tm local {};
  localtime_r(&t, &local);
  char text[96];
  std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

TEST(SmsDateTest, SecondsAndNanosecondsGiveTheSameLocalTime) {
  EXPECT_EQ(KorAppleDateString(600000000), Reference(600000000));
  EXPECT_EQ(KorAppleDateString(600000000000000000), Reference(600000000));
  EXPECT_EQ(KorAppleDateString(600000000).substr(0, 4), "2020");
  EXPECT_EQ(KorAppleDateString(-5), Reference(0));
  // The last second that still reads as seconds, and the first that does not.
  EXPECT_EQ(KorAppleDateString(31556908799), Reference(31556908799));
  EXPECT_EQ(KorAppleDateString(31556908800), Reference(31));
  EXPECT_EQ(KorAppleDateString(INT64_MAX), Reference(INT64_MAX / 1000000000));
}

TEST(SmsDateTest, EverySecondAroundOffsetChangesMatchesTheSystemConversion) {
  // Each zone on a thread of its own: conversions remember the last quarter hour per thread.
  for (const char* zone : {"UTC", "Europe/Berlin", "America/St_Johns", "Australia/Lord_Howe", "Asia/Kathmandu",
                           "America/New_York"}) {
    std::thread worker([zone] {
      setenv("TZ", zone, 1);
      tzset();
      // The 2021 changes of New York (spring, autumn), St. John's, Berlin and Lord Howe (its
      // half-hour steps), every second of two hours on each side.
      for (int64_t change : {637398000, 657957600, 637392600, 638586000, 639154800, 654881400}) {
        for (int64_t second = change - 7200; second < change + 7200; ++second) {
          ASSERT_EQ(KorAppleDateString(second), Reference(second)) << zone << " " << second;
        }
      }
    });
    worker.join();
  }
  unsetenv("TZ");
  tzset();
}

}  // namespace
