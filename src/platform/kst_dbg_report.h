// The crash filter. Until crash reports are written, registration only records its arguments.
#pragma once

#include <string>

class KSTDbgReport {
 public:
  // Called with the dump file path after the archive exists.
  using CleanupCallback = void (*)(const char* dump_path);
  // Called with the folder that is being packed; returns an extra file to pack (malloc'd) or null.
  using ReportCallback = char* (*)(const char* folder);

  static bool RegisterCrashFilter(const std::string& dump_path, CleanupCallback cleanup, ReportCallback report);

  struct Registration {
    std::string dump_path;
    CleanupCallback cleanup = nullptr;
    ReportCallback report = nullptr;
    bool registered = false;
  };
  static Registration Registered();
};
