#include "utility/module/sms/kor_sms_date.h"

#include <ctime>

#include "platform/kst_utility_sys.h"

namespace {

constexpr int64_t kAppleEpochUnix = 978307200;        // 2001-01-01 00:00:00 UTC
constexpr int64_t kLatestUnix = 32535215999;          // 3000-12-31 23:59:59 UTC
constexpr int64_t kLatestOffset = kLatestUnix - kAppleEpochUnix;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
// Time-zone rules change offsets only at quarter hours, so within one quarter hour local time is
// the quarter's start plus the seconds since; a listing converts each quarter once.
constexpr int64_t kQuarterHour = 900;

struct QuarterCache {
  int64_t start = -1;
  bool usable = false;  // same offset at both ends and the local quarter starts on a quarter hour
  struct tm local {};
};

bool LocalTime(int64_t unix_time, struct tm* local) {
  time_t value = static_cast<time_t>(unix_time);
  return localtime_r(&value, local) != nullptr;
}

bool QuarterLocalTime(int64_t unix_time, struct tm* local) {
  thread_local QuarterCache cache;
  int64_t start = unix_time - unix_time % kQuarterHour;
  if (cache.start != start) {
    struct tm end {};
    cache.start = start;
    cache.usable = LocalTime(start, &cache.local) && LocalTime(start + kQuarterHour - 1, &end) &&
                   cache.local.tm_gmtoff == end.tm_gmtoff && cache.local.tm_sec == 0 &&
                   cache.local.tm_min % 15 == 0;
  }
  if (!cache.usable) return LocalTime(unix_time, local);
  int64_t seconds = unix_time - start;
  *local = cache.local;
  local->tm_min += static_cast<int>(seconds / 60);
  local->tm_sec = static_cast<int>(seconds % 60);
  return true;
}

std::string LocalTimeText(int64_t offset) {
  struct tm local {};
  if (!QuarterLocalTime(kAppleEpochUnix + offset, &local)) return std::string();
  return KSTUtilitySys::DateTimeText(local);
}

}  // namespace

std::string KorAppleDateString(int64_t raw) {
  int64_t offset = raw < 0 ? 0 : raw;
  if (offset > kLatestOffset) offset /= kNanosecondsPerSecond;
  if (offset > kLatestOffset) return std::string();
  return LocalTimeText(offset);
}
