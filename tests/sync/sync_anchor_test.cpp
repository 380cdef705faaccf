// The computer anchor east and west of UTC, from the zone the process runs in.
#include <gtest/gtest.h>

#include "iOSAPI/kor_sync_anchor.h"
#include "zone_guard.h"

namespace {

// 2027-01-01 08:03:04 UTC.
constexpr int64_t kNewYear2027 = 1798790584;

TEST(SyncAnchorTest, ZonesEastAndWestOfUtc) {
  {
    ZoneGuard zone("CET-1");  // UTC+1 in January
    EXPECT_EQ(KorComputerAnchor(KstLocalTimeAt(kNewYear2027)), "2027-01-01 09:03:04 +0100");
  }
  {
    ZoneGuard zone("EST5");
    EXPECT_EQ(KorComputerAnchor(KstLocalTimeAt(kNewYear2027)), "2027-01-01 03:03:04 -0500");
  }
}

TEST(SyncAnchorTest, OffsetHoursAreTruncatedAndMinutesAreZero) {
  KstLocalTime local{2026, 3, 9, 14, 5, 7, -480};
  EXPECT_EQ(KorComputerAnchor(local), "2026-03-09 14:05:07 +0800");
  local.bias_minutes = -330;  // UTC+05:30
  EXPECT_EQ(KorComputerAnchor(local), "2026-03-09 14:05:07 +0500");
  local.bias_minutes = 210;  // UTC-03:30
  EXPECT_EQ(KorComputerAnchor(local), "2026-03-09 14:05:07 -0300");
  local.bias_minutes = 0;
  EXPECT_EQ(KorComputerAnchor(local), "2026-03-09 14:05:07 +0000");
}

}  // namespace
