#include "platform/console_redirector.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

extern char** environ;

namespace {

constexpr size_t kOutputPiece = 255;
constexpr auto kCloseWait = std::chrono::milliseconds(5000);

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool in_word = false;
  for (char c : command_line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (c == ' ' && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

std::string HexError(int error) {
  char text[64];
  std::snprintf(text, sizeof(text), "Redirect console error: %x\r\n", static_cast<unsigned>(error));
  return text;
}

}  // namespace

CRedirector::~CRedirector() { CRedirector::Close(); }

void CRedirector::Output(const std::string& text) { std::printf("%s", text.c_str()); }

void CRedirector::Error(const std::string& text) { std::printf("%s", text.c_str()); }

bool CRedirector::Open(const std::string& command_line) { return Open(SplitCommandLine(command_line)); }

bool CRedirector::Open(const std::vector<std::string>& argv) {
  Close();
  int output[2] = {-1, -1};
  int input[2] = {-1, -1};
  int error = 0;
  if (argv.empty()) error = ENOENT;
  if (error == 0 && (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(input, O_CLOEXEC) != 0 ||
                     ::pipe2(stop_pipe_, O_CLOEXEC) != 0)) {
    error = errno;
  }
  if (error == 0) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    std::vector<char*> args;
    for (const std::string& word : argv) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error == 0) child_ = pid;
  }
  // The child's ends belong to the child now.
  CloseFd(&input[0]);
  CloseFd(&output[1]);
  stdin_write_ = input[1];
  stdout_read_ = output[0];
  if (error != 0) {
    Error(HexError(static_cast<unsigned>(error)));
    Close();
    errno = error;
    return false;
  }
  reaped_ = false;
  reader_done_ = false;
  reader_ = std::thread([this] { ReadLoop(); });
  reader_id_ = reader_.get_id();
  return true;
}

bool CRedirector::DrainAvailable() {
  char piece[kOutputPiece + 1];
  for (;;) {
    pollfd entry{stdout_read_, POLLIN, 0};
    if (::poll(&entry, 1, 0) <= 0) return true;
    const ssize_t got = ::read(stdout_read_, piece, kOutputPiece);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (errno != EPIPE) Error("Read stdout pipe error\r\n");
      return false;
    }
    if (got == 0) return false;
    piece[got] = '\0';
    Output(std::string(piece, static_cast<size_t>(got)));
  }
}

void CRedirector::ReadLoop() {
  for (;;) {
    if (!DrainAvailable()) break;
    pollfd entries[2] = {{stdout_read_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    const int ready = ::poll(entries, 2, static_cast<int>(wait_ms_));
    if (ready < 0 && errno != EINTR) break;
    if (entries[1].revents != 0) break;  // the stop event
    if (!reaped_ && child_ > 0 && ::waitpid(child_, &exit_status_, WNOHANG) == child_) reaped_ = true;
    if (reaped_) {
      // The program ended: what it left in the pipe still goes out.
      DrainAvailable();
      break;
    }
  }
  FinishReader();
}

void CRedirector::FinishReader() {
  std::lock_guard<std::mutex> lock(reader_mutex_);
  reader_done_ = true;
  reader_done_signal_.notify_all();
}

void CRedirector::WaitForReader() {
  std::unique_lock<std::mutex> lock(reader_mutex_);
  reader_done_signal_.wait(lock, [this] { return reader_done_ || !reader_.joinable(); });
}

bool CRedirector::ExitCode(int* code) {
  if (child_ <= 0) return false;
  if (!reaped_) {
    if (::waitpid(child_, &exit_status_, 0) != child_) return false;
    reaped_ = true;
  }
  if (WIFEXITED(exit_status_)) {
    *code = WEXITSTATUS(exit_status_);
  } else if (WIFSIGNALED(exit_status_)) {
    *code = 128 + WTERMSIG(exit_status_);
  } else {
    return false;
  }
  return true;
}

void CRedirector::Close() {
  if (reader_.joinable() && std::this_thread::get_id() != reader_id_) {
    if (stop_pipe_[1] >= 0) {
      const char wake = 1;
      [[maybe_unused]] ssize_t ignored = ::write(stop_pipe_[1], &wake, 1);
    }
    std::unique_lock<std::mutex> lock(reader_mutex_);
    const bool ended = reader_done_signal_.wait_for(lock, kCloseWait, [this] { return reader_done_; });
    lock.unlock();
    if (ended) {
      reader_.join();
    } else {
      Error("The redir thread is dead\r\n");
      reader_.detach();
    }
  }
  CloseHandles();
}

void CRedirector::CloseHandles() {
  if (child_ > 0 && !reaped_) {
    if (::waitpid(child_, &exit_status_, WNOHANG) != child_) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, &exit_status_, 0);
    }
    reaped_ = true;
  }
  child_ = -1;
  CloseFd(&stop_pipe_[0]);
  CloseFd(&stop_pipe_[1]);
  CloseFd(&stdin_write_);
  CloseFd(&stdout_read_);
  reader_id_ = std::thread::id();
}

template <typename CommandLine>
std::string SyncRedirector::Collect(const CommandLine& command, int* exit_code) {
  collected_.clear();
  *exit_code = -1;
  if (Open(command)) {
    WaitForReader();
    if (!ExitCode(exit_code)) {
      *exit_code = -1;
      collected_ += std::to_string(errno);
    }
  }
  std::string text = collected_;
  Close();
  return text;
}

std::string SyncRedirector::RunAndCollect(const std::string& command_line, int* exit_code) {
  return Collect(command_line, exit_code);
}

std::string SyncRedirector::RunAndCollect(const std::vector<std::string>& argv, int* exit_code) {
  return Collect(argv, exit_code);
}

std::string SyncRedirector::RunProgram(const std::string& name, const std::vector<std::string>& arguments,
                                       int* exit_code) {
  std::vector<std::string> argv{name};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Collect(argv, exit_code);
}
