// What the program hands the crash filter: the dump path and the report and clean-up callbacks.
#pragma once

#include <string>

// Dump path: log folder + "/" + the registration time "%Y%m%d%H%M%S" + ".dmp".
std::string KorCrashDumpPath(const std::string& log_folder, const std::string& time_text);
// Registers the crash filter for this process (start-up).
void KorRegisterCrashReports(const std::string& log_folder);

// Report callback: writes folder + "Crash.json" ({"Product","Version","System"}), stops the log so
// that its files are complete, and returns a malloc'd copy of the file's path.
char* KorWriteCrashReport(const char* folder);
// Clean-up callback: removes every entry beside the dump whose name lacks ".zip" (any case).
void KorCleanCrashFolder(const char* dump_path);
// "major.minor Build build Service Pack 0.0" from the kernel release; empty when unknown.
std::string KorSystemVersionText();
