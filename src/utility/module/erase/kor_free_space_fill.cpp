#include "utility/module/erase/kor_free_space_fill.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <vector>

#include "iOSAPI/kor_afc.h"
#include "platform/kst_log.h"

namespace {

constexpr const char* kCancelled = "Task cancelled.";

std::string FillFileName(int number) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &local);
  return std::string(kKorFillFolder) + "/" + stamp + "-" + std::to_string(number);
}

enum class FileOutcome { kWritten, kOpenFailed, kStopped };

// Writes one fill file of `chunks` chunks; a failed write ends the file early (the device is full).
FileOutcome WriteFillFile(AFCConnectionRef afc, const std::string& path, uint32_t chunks,
                          const std::vector<uint8_t>& zeros, const KorEraseTask& task) {
  KorAfcFile file(afc, path, kKorAfcModeWrite);
  if (!file.IsOpen()) return FileOutcome::kOpenFailed;
  for (uint32_t chunk = 0; chunk < chunks; ++chunk) {
    if (task.stopped()) return FileOutcome::kStopped;
    if (!file.Write(zeros.data(), static_cast<uint32_t>(zeros.size()))) break;
  }
  return FileOutcome::kWritten;
}

struct PassOutcome {
  uint64_t planned = 0;
  std::optional<KorEraseResult> error;
  bool stopped = false;
};

PassOutcome RunPass(AFCConnectionRef afc, int64_t pass, int64_t level, int64_t base, uint64_t free_bytes,
                    const std::vector<uint8_t>& zeros, const KorEraseTask& task) {
  PassOutcome outcome;
  const uint32_t chunks = kKorFillChunksPerFilePass * static_cast<uint32_t>(pass);
  int64_t reported_percent = 0;
  for (int number = 1; outcome.planned < free_bytes; ++number) {
    std::string path = FillFileName(number);
    FileOutcome written = WriteFillFile(afc, path, chunks, zeros, task);
    if (written == FileOutcome::kStopped) {
      outcome.stopped = true;
      outcome.error = KorEraseResult{6, kCancelled};
      return outcome;
    }
    if (written == FileOutcome::kOpenFailed) {
      KLOG(WARNING) << "free-space fill: cannot open " << path;
      outcome.error = KorEraseResult{kKorEraseNoAfc, "open " + path + " fail."};
      return outcome;
    }
    outcome.planned += static_cast<uint64_t>(chunks) * kKorFillChunkBytes;
    int64_t percent = static_cast<int64_t>(std::min<uint64_t>(100, outcome.planned * 100 / free_bytes));
    if (percent > reported_percent) {
      reported_percent = percent;
      task.report(0, base + percent / level);
    }
  }
  return outcome;
}

}  // namespace

KorEraseResult KorFillFreeSpace(AFCConnectionRef afc, int64_t level, int64_t free_bytes, const KorEraseTask& task) {
  if (!KorAfcMakeDirectory(afc, kKorFillFolder)) return {kKorEraseMkdirFailed, "mkdir /iostemp fail."};
  std::vector<uint8_t> zeros(kKorFillChunkBytes, 0);
  const uint64_t free_size = free_bytes > 0 ? static_cast<uint64_t>(free_bytes) : 0;
  std::optional<KorEraseResult> error;
  uint64_t last_planned = 0;
  int64_t base = 0;
  for (int64_t pass = 1; pass <= level && base <= 50 && !error; ++pass, base += 50) {
    if (task.stopped()) {
      error = KorEraseResult{6, kCancelled};
      break;
    }
    PassOutcome outcome = RunPass(afc, pass, level, base, free_size, zeros, task);
    KorAfcRemoveTree(afc, kKorFillFolder, false, false);
    last_planned = outcome.planned;
    error = outcome.error;
  }
  KorAfcRemoveTree(afc, kKorFillFolder, true, false);
  if (error) return *error;
  if (last_planned < free_size) return {kKorEraseFillShort, "free space not filled"};
  return {0, ""};
}
