#include "platform/kst_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace kst {

int64_t CurrentProcessId() { return static_cast<int64_t>(::getpid()); }

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

std::string ExecutableFileName() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// The state letter of /proc/<pid>/stat: the character after the closing parenthesis of the name.
char ProcessState(int64_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return '\0';
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return '\0';
  return line[close + 2];
}

}  // namespace

bool IsProcessRunning(int64_t pid) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
  char state = ProcessState(pid);
  return state != '\0' && state != 'Z' && state != 'X';
}

bool AnyProcessMatches(const std::string& wildcard) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && ::fnmatch(wildcard.c_str(), name.c_str(), 0) == 0) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

namespace {

std::vector<std::string> BuildEnvironment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> result;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string text(*entry);
    std::string name = text.substr(0, text.find('='));
    if (extra.count(name) == 0) result.push_back(text);
  }
  for (const auto& [name, value] : extra) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> PointerList(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

int64_t SpawnProcess(const std::string& program, const SpawnOptions& options, int* error) {
  std::vector<std::string> argv_texts{program};
  argv_texts.insert(argv_texts.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> env_texts = BuildEnvironment(options.extra_env);
  std::vector<char*> argv = PointerList(argv_texts);
  std::vector<char*> envp = PointerList(env_texts);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!options.stderr_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.stderr_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!options.stdout_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.stdout_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  } else if (options.stdout_to_stderr) {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = rc;
    return -1;
  }
  return pid;
}

namespace {

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

int WaitProcess(int64_t pid, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, timeout_ms < 0 ? 0 : WNOHANG);
    if (done == static_cast<pid_t>(pid)) return DecodeStatus(status);
    if (done < 0 && errno != EINTR) return -1;
    if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) return -1;
    if (timeout_ms >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool KillProcess(int64_t pid, bool force) {
  return ::kill(static_cast<pid_t>(pid), force ? SIGKILL : SIGTERM) == 0;
}

std::string GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::string(value) : std::string();
}

bool SetEnv(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace kst

namespace kst {

bool RunningAsRoot() { return ::geteuid() == 0; }

}  // namespace kst
