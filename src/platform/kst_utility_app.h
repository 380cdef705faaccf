#pragma once

#include <string>

class KSTUtilityApp {
 public:
  // A new process-unique ID text for packages and events: the tag (or "task") and a counter.
  // It never looks like a packet's decimal task ID, so the two kinds of IDs cannot collide.
  static std::string GetTagTaskId(const char* tag);
};
