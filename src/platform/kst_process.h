// Processes: this process's identity, whether another process still runs, child processes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kst {

int64_t CurrentProcessId();
// True when this process runs with the administrator's (root's) rights.
bool RunningAsRoot();
// The full path of the running executable.
std::string ExecutablePath();
// The last component of the executable's path.
std::string ExecutableFileName();
// True while a process with this ID exists and has not ended (a zombie counts as ended).
bool IsProcessRunning(int64_t pid);
// True when a running process's name matches the shell wildcard pattern.
bool AnyProcessMatches(const std::string& wildcard);

struct SpawnOptions {
  std::vector<std::string> arguments;            // without the program itself
  std::map<std::string, std::string> extra_env;  // added to (or replacing in) this environment
  std::string stdout_path;                       // empty: inherit
  std::string stderr_path;                       // empty: inherit
  bool stdout_to_stderr = false;                 // standard output joins standard error
};
// Starts a program; returns its process ID, or -1 (with *error set to errno).
int64_t SpawnProcess(const std::string& program, const SpawnOptions& options, int* error = nullptr);
// Waits for a child to end; returns its exit code (128 + signal when killed), or -1 on time-out.
// A negative timeout waits forever.
int WaitProcess(int64_t pid, int timeout_ms);
bool KillProcess(int64_t pid, bool force);

std::string GetEnv(const std::string& name);
bool SetEnv(const std::string& name, const std::string& value);

}  // namespace kst
