// Property-list files of backup folders (Info.plist, Manifest.plist, Status.plist): read from
// disk in either format into a value tree, and the dates they hold.
#pragma once

#include <cstdint>
#include <string>

#include "iOSAPI/kor_value.h"

// Property-list files larger than this are not read.
constexpr int64_t kKorMaxBackupPlistBytes = 64ll * 1024 * 1024;

// Reads a binary or XML property list whose top is a dictionary; false when it is missing, too
// large or does not parse.
bool KorReadPlistFile(const std::string& path, KorValue* dictionary);
// Seconds since 1970 of a property-list date text ("2026-03-09T14:05:07Z"); false when malformed.
bool KorPlistDateSeconds(const std::string& text, int64_t* seconds);
// The property-list date text (UTC) of seconds since 1970.
std::string KorPlistDateText(int64_t seconds);
// Local time as "%.4d-%.2d-%.2d %.2d:%.2d:%.2d".
std::string KorLocalTimeText(int64_t seconds);
