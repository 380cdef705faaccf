#include "iOSAPI/kor_sync_time.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <regex>

#include "platform/kst_local_time.h"

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), without the process's zone.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool ValidDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

bool KorIsDeviceTimeText(const std::string& text) {
  static const std::regex kUtcTime("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z");
  return text.size() == 20 && std::regex_match(text, kUtcTime);
}

std::string KorLocalTimeText(const std::string& text) {
  if (!KorIsDeviceTimeText(text)) return text;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &year, &month, &day, &hour, &minute, &second);
  if (!ValidDate(year, month, day) || hour > 23 || minute > 59 || second > 60) return std::string();
  const int64_t seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                          hour * 3600 + minute * 60 + second;
  const KstLocalTime local = KstLocalTimeAt(seconds);
  char out[32];
  std::snprintf(out, sizeof(out), "%.4u-%.2u-%.2u %.2u:%.2u:%.2u", local.year % 10000u, local.month % 100u,
                local.day % 100u, local.hour % 100u, local.minute % 100u, local.second % 100u);
  return out;
}

std::string KorDeviceTimeAsLocal(const std::string& text) {
  return KorIsDeviceTimeText(text) ? KorLocalTimeText(text) : std::string();
}

std::string KorUtcNowText() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{now - day};
  char out[32];
  std::snprintf(out, sizeof(out), "%04u-%02u-%02uT%02u:%02u:%02uZ", static_cast<unsigned>(int{date.year()}) % 10000u,
                static_cast<unsigned>(date.month()) % 100u, static_cast<unsigned>(date.day()) % 100u,
                static_cast<unsigned>(time.hours().count()) % 100u, static_cast<unsigned>(time.minutes().count()) % 100u,
                static_cast<unsigned>(time.seconds().count()) % 100u);
  return out;
}
