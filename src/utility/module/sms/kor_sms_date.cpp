#include "utility/module/sms/kor_sms_date.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t kAppleEpochUnix = 978307200;        // 2001-01-01 00:00:00 UTC
constexpr int64_t kLatestUnix = 32535215999;          // 3000-12-31 23:59:59 UTC
constexpr int64_t kLatestOffset = kLatestUnix - kAppleEpochUnix;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

std::string LocalTimeText(int64_t offset) {
  time_t unix_time = static_cast<time_t>(kAppleEpochUnix + offset);
  struct tm local {};
  if (!localtime_r(&unix_time, &local)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace

std::string KorAppleDateString(int64_t raw) {
  int64_t offset = raw < 0 ? 0 : raw;
  if (offset > kLatestOffset) offset /= kNanosecondsPerSecond;
  if (offset > kLatestOffset) return std::string();
  return LocalTimeText(offset);
}
