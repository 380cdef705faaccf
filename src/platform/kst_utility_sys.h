// Time formatting.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

class KSTUtilitySys {
 public:
  // Formats the local time now with a strftime format; returns the text (also in `buffer`).
  static std::string GetNowDateTime(char* buffer, size_t size, const char* format);
  static std::string TimeFormat(time_t time, char* buffer, size_t size, const char* format);
  // Seconds since 2001-01-01 00:00:00 GMT as local "YYYY-MM-DD hh:mm:ss"; empty for a value that is
  // no date (not finite, or thousands of years away).
  static std::string Convert2001GMTtoDate(double seconds_since_2001);
  // A broken-down time as "YYYY-MM-DD hh:mm:ss" ("%.4d" for the year), written digit by digit:
  // listings print dates for every record, and a formatted print costs more than the conversion.
  static std::string DateTimeText(const std::tm& time);

  static std::string NowText(const char* format);
};
