// The crash filter: on a fatal signal it writes a dump (signal, fault address, registers and a
// backtrace of every thread), asks the program for an extra report file, packs the dump, that file
// and this process's log files into a ZIP archive beside the dump, lets the program clean up, and
// then lets the process die of the original signal.
#pragma once

#include <string>

class KSTDbgReport {
 public:
  // Called with the dump file path after the archive exists.
  using CleanupCallback = void (*)(const char* dump_path);
  // Called with the dump's folder (ending in "/") before packing; returns an extra file to pack
  // (malloc'd, freed by the filter) or null.
  using ReportCallback = char* (*)(const char* folder);

  // Installs the fatal-signal handlers (once; later calls replace the arguments).
  static bool RegisterCrashFilter(const std::string& dump_path, CleanupCallback cleanup, ReportCallback report);

  struct Registration {
    std::string dump_path;
    CleanupCallback cleanup = nullptr;
    ReportCallback report = nullptr;
    bool registered = false;
  };
  static Registration Registered();

  // The archive the filter writes for a dump: the dump path with ".dmp" replaced by
  // "-<process ID>.zip", so that crashes of two processes in the same second keep both archives.
  static std::string ArchivePathFor(const std::string& dump_path, long long pid);
};
