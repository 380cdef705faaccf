// The program's log: glog, written only when logging was turned on at start-up.
#pragma once

#include <glog/logging.h>

#include <string>

namespace kst {

bool LogEnabled();

struct LogSettings {
  std::string program_name;  // names the log files
  std::string folder;        // where the files go
  int max_file_mb = 20;
  bool also_to_stderr = false;
};

// Starts the log; every line is flushed at once. Safe to call once per process.
void StartLog(const LogSettings& settings);
// Stops the log (once); later lines are dropped.
void StopLog();
// A plug-in library links its own copy of this file: once loaded it calls this so that its lines
// go to the log the host process started (glog itself is shared), or nowhere when there is none.
void FollowHostLog();

}  // namespace kst

// Logs a line when logging is on; costs one flag test when it is off.
#define KLOG(severity) LOG_IF(severity, ::kst::LogEnabled())
