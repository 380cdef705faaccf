#include "platform/kst_local_time.h"

#include <ctime>

KstLocalTime KstLocalTimeAt(int64_t seconds_since_epoch) {
  // The zone may have been changed through TZ since the last call.
  tzset();
  const time_t moment = static_cast<time_t>(seconds_since_epoch);
  struct tm local = {};
  KstLocalTime out;
  if (localtime_r(&moment, &local) == nullptr) return out;
  out.year = static_cast<uint32_t>(local.tm_year + 1900);
  out.month = static_cast<uint32_t>(local.tm_mon + 1);
  out.day = static_cast<uint32_t>(local.tm_mday);
  out.hour = static_cast<uint32_t>(local.tm_hour);
  out.minute = static_cast<uint32_t>(local.tm_min);
  out.second = static_cast<uint32_t>(local.tm_sec);
  out.bias_minutes = static_cast<int32_t>(-local.tm_gmtoff / 60);
  return out;
}

KstLocalTime KstLocalTimeNow() { return KstLocalTimeAt(static_cast<int64_t>(std::time(nullptr))); }
