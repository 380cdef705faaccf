// What the erase steps need from their command: progress messages and the stop check.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct KorEraseTask {
  std::function<void(int32_t stage, int64_t progress)> report;
  std::function<bool()> stopped;
};

// The outcome of an erase command: its result code and the text of {"error": message}.
struct KorEraseResult {
  int32_t code = 0;
  std::string message;
};

constexpr int32_t kKorEraseFillShort = 2;
constexpr int32_t kKorEraseNoInstaller = 14;
constexpr int32_t kKorEraseNoAfc = 17;
constexpr int32_t kKorEraseMkdirFailed = 47;
