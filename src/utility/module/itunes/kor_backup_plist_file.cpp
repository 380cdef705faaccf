#include "utility/module/itunes/kor_backup_plist_file.h"

#include <cstdio>
#include <ctime>

#include "iOSAPI/kor_service_message.h"
#include "platform/kst_fs.h"

bool KorReadPlistFile(const std::string& path, KorValue* dictionary) {
  const int64_t size = kst::FileSize(path);
  if (size <= 0 || size > kKorMaxBackupPlistBytes) return false;
  std::string bytes;
  if (!kst::ReadWholeFile(path, &bytes)) return false;
  KorValue value;
  if (!KorMessageToValue(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &value) ||
      !value.IsDictionary()) {
    return false;
  }
  *dictionary = std::move(value);
  return true;
}

bool KorPlistDateSeconds(const std::string& text, int64_t* seconds) {
  struct tm parts {};
  char zone = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &zone) != 7 ||
      zone != 'Z') {
    return false;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  *seconds = static_cast<int64_t>(timegm(&parts));
  return true;
}

std::string KorPlistDateText(int64_t seconds) {
  const time_t clock = static_cast<time_t>(seconds);
  struct tm parts {};
  gmtime_r(&clock, &parts);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string KorLocalTimeText(int64_t seconds) {
  const time_t clock = static_cast<time_t>(seconds);
  struct tm parts {};
  localtime_r(&clock, &parts);
  char text[48];
  std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}
