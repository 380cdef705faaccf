#include "platform/kst_utility_app.h"

#include <atomic>
#include <cstdint>

std::string KSTUtilityApp::GetTagTaskId(const char* tag) {
  static std::atomic<uint64_t> counter{0};
  return std::string(tag && *tag ? tag : "task") + "#" + std::to_string(++counter);
}
