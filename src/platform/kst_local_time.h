// The local calendar time and the zone's bias, as the device's anchors need them.
#pragma once

#include <cstdint>

struct KstLocalTime {
  uint32_t year = 0;
  uint32_t month = 0;  // 1 … 12
  uint32_t day = 0;
  uint32_t hour = 0;
  uint32_t minute = 0;
  uint32_t second = 0;
  // Minutes to add to local time to get UTC (negative east of UTC), as the zone bias is counted.
  int32_t bias_minutes = 0;
};

// The given moment (seconds since 1970 UTC) in the process's time zone.
KstLocalTime KstLocalTimeAt(int64_t seconds_since_epoch);
KstLocalTime KstLocalTimeNow();
