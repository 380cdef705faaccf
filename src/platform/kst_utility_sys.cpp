#include "platform/kst_utility_sys.h"

#include <cmath>
#include <cstdio>

namespace {

// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr double kAppleEpochOffset = 978307200.0;

std::string FormatLocal(time_t time, char* buffer, size_t size, const char* format) {
  if (!buffer || size == 0) return std::string();
  std::tm local{};
  localtime_r(&time, &local);
  size_t written = std::strftime(buffer, size, format, &local);
  buffer[written < size ? written : size - 1] = '\0';
  return std::string(buffer, written);
}

void PutDigits(char* at, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

}  // namespace

std::string KSTUtilitySys::DateTimeText(const std::tm& local) {
  int year = local.tm_year + 1900;
  if (year < 0 || year > 9999) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", year, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return text;
  }
  std::string text("0000-00-00 00:00:00");
  PutDigits(&text[0], year, 4);
  PutDigits(&text[5], local.tm_mon + 1, 2);
  PutDigits(&text[8], local.tm_mday, 2);
  PutDigits(&text[11], local.tm_hour, 2);
  PutDigits(&text[14], local.tm_min, 2);
  PutDigits(&text[17], local.tm_sec, 2);
  return text;
}

std::string KSTUtilitySys::GetNowDateTime(char* buffer, size_t size, const char* format) {
  return FormatLocal(std::time(nullptr), buffer, size, format);
}

std::string KSTUtilitySys::TimeFormat(time_t time, char* buffer, size_t size, const char* format) {
  return FormatLocal(time, buffer, size, format);
}

std::string KSTUtilitySys::NowText(const char* format) {
  char buffer[128];
  return GetNowDateTime(buffer, sizeof(buffer), format);
}

std::string KSTUtilitySys::Convert2001GMTtoDate(double seconds_since_2001) {
  // Beyond about ±3000 years the value is no date (and would not fit a time_t).
  constexpr double kLimit = 1e11;
  if (!std::isfinite(seconds_since_2001) || std::fabs(seconds_since_2001) > kLimit) return std::string();
  time_t time = static_cast<time_t>(std::floor(seconds_since_2001 + kAppleEpochOffset));
  std::tm local{};
  localtime_r(&time, &local);
  return DateTimeText(local);
}
