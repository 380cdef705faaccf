#include "fault_table.h"

#include <algorithm>
#include <cstdlib>

namespace vdevice {

namespace {

// Stalls longer than this would only make a test hang; a minute covers every time-out we test.
constexpr uint64_t kMaxStallMs = 600000;
// From a USB 2.0 cable's pace (about 40) to well beyond any real link.
constexpr uint64_t kMaxPaceMegabytesPerSecond = 100000;

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return *value <= limit;
}

bool ParseCount(const std::vector<std::string>& words, size_t index, int* remaining) {
  if (words.size() <= index) return true;
  if (words.size() > index + 1) return false;
  if (words[index] == "always") {
    *remaining = -1;
    return true;
  }
  uint64_t count = 0;
  if (!ParseNumber(words[index], 1000000, &count) || count == 0) return false;
  *remaining = static_cast<int>(count);
  return true;
}

bool ParsePercent(const std::string& text) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  return *end == '\0' && value >= 0 && value <= 100;
}

bool ParseBackupFault(const std::vector<std::string>& words, Fault* fault) {
  const std::string& kind = words[0];
  if (kind == "disconnect" || kind == "unplug" || kind == "finish") {
    fault->kind = kind == "disconnect" ? FaultKind::kDisconnectAt
                  : kind == "unplug"   ? FaultKind::kUnplugAt
                                       : FaultKind::kFinishAt;
    if (words.size() < 2 || !ParsePercent(words[1])) return false;
    fault->value = words[1];
    return ParseCount(words, 2, &fault->remaining);
  }
  if (kind == "passcode" || kind == "silence") {
    fault->kind = kind == "passcode" ? FaultKind::kPasscode : FaultKind::kSilence;
    return words.size() >= 2 && ParseNumber(words[1], kMaxStallMs, &fault->amount) &&
           ParseCount(words, 2, &fault->remaining);
  }
  if (kind == "stray") {
    fault->kind = FaultKind::kStray;
    return ParseCount(words, 1, &fault->remaining);
  }
  if (kind == "hostile") {
    fault->kind = FaultKind::kHostile;
    if (words.size() < 3) return false;
    fault->value = words[1];
    size_t paths = fault->value == "move" ? 2 : 1;
    static const std::vector<std::string> kOperations = {"upload", "mkdir", "move", "remove", "download"};
    bool known = std::find(kOperations.begin(), kOperations.end(), fault->value) != kOperations.end();
    if (!known || words.size() < 2 + paths) return false;
    fault->paths.assign(words.begin() + 2, words.begin() + 2 + static_cast<long>(paths));
    return ParseCount(words, 2 + paths, &fault->remaining);
  }
  return false;
}

bool ParseKindArguments(const std::vector<std::string>& words, Fault* fault) {
  const std::string& kind = words[0];
  if (ParseBackupFault(words, fault)) return true;
  if (kind == "drop" || kind == "stall") {
    fault->kind = kind == "drop" ? FaultKind::kDrop : FaultKind::kStall;
    uint64_t limit = kind == "drop" ? UINT32_MAX : kMaxStallMs;
    return words.size() >= 2 && ParseNumber(words[1], limit, &fault->amount) &&
           ParseCount(words, 2, &fault->remaining);
  }
  if (kind == "pace") {
    fault->kind = FaultKind::kPace;
    return words.size() >= 2 && ParseNumber(words[1], kMaxPaceMegabytesPerSecond, &fault->amount) &&
           fault->amount > 0 && ParseCount(words, 2, &fault->remaining);
  }
  if (kind == "error") {
    fault->kind = FaultKind::kError;
    if (words.size() < 2 || words[1].empty()) return false;
    fault->value = words[1];
    return ParseCount(words, 2, &fault->remaining);
  }
  if (kind == "frame") {
    fault->kind = FaultKind::kFrame;
    return words.size() >= 2 && ParseNumber(words[1], UINT32_MAX, &fault->amount) &&
           ParseCount(words, 2, &fault->remaining);
  }
  if (kind == "refuse") {
    fault->kind = FaultKind::kRefuse;
    fault->value = "ServiceProhibited";
    return ParseCount(words, 1, &fault->remaining);
  }
  return false;
}

}  // namespace

bool ParseFault(const std::vector<std::string>& words, Fault* fault, std::string* error) {
  *fault = Fault();
  if (!words.empty() && ParseKindArguments(words, fault)) return true;
  *error = "expected: drop BYTES | stall MS | error VALUE | refuse | pace MBPS | frame LENGTH | disconnect PCT | unplug PCT | "
           "finish PCT | stray | passcode MS | silence MS | hostile upload|mkdir|remove|download PATH | hostile move PATH TARGET, "
           "then an optional COUNT or \"always\"";
  return false;
}

void FaultTable::Arm(const std::string& service, const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_.emplace(service, fault);
}

void FaultTable::Clear(const std::string& service) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_.erase(service);
}

std::optional<Fault> FaultTable::Take(const std::string& service, FaultKind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [first, last] = armed_.equal_range(service);
  for (auto it = first; it != last; ++it) {
    if (it->second.kind != kind) continue;
    Fault fired = it->second;
    if (it->second.remaining > 0 && --it->second.remaining == 0) armed_.erase(it);
    return fired;
  }
  return std::nullopt;
}

std::vector<Fault> FaultTable::TakeAll(const std::string& service, FaultKind kind,
                                       const std::function<bool(const Fault&)>& wanted) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Fault> fired;
  auto [it, last] = armed_.equal_range(service);
  while (it != last) {
    if (it->second.kind != kind || (wanted && !wanted(it->second))) {
      ++it;
      continue;
    }
    fired.push_back(it->second);
    bool used_up = it->second.remaining > 0 && --it->second.remaining == 0;
    it = used_up ? armed_.erase(it) : std::next(it);
  }
  return fired;
}

}  // namespace vdevice
