#include "iOSAPI/kor_sync_anchor.h"

#include <cstdio>
#include <cstdlib>

std::string KorComputerAnchor(const KstLocalTime& local) {
  // Truncation toward zero: a zone at +05:30 is written +0500.
  const int32_t hours_east = -local.bias_minutes / 60;
  const char sign = hours_east < 0 ? '-' : '+';
  char text[64];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u %c%02u%02u", local.year % 10000u, local.month % 100u,
                local.day % 100u, local.hour % 100u, local.minute % 100u, local.second % 100u, sign,
                static_cast<unsigned>(std::abs(hours_east)) % 100u, 0u);
  return text;
}
