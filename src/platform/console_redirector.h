// Running a console program with its standard input, output and error on pipes, handing the
// program's output to a virtual operation as it arrives, from a reader thread of its own.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CRedirector {
 public:
  CRedirector() = default;
  virtual ~CRedirector();
  CRedirector(const CRedirector&) = delete;
  CRedirector& operator=(const CRedirector&) = delete;

  // Starts the program (words split at spaces, "double quotes" group) and the reader thread.
  bool Open(const std::string& command_line);
  // The same with the program and its arguments given one by one (no splitting).
  bool Open(const std::vector<std::string>& argv);
  // Stops the reader thread (waiting up to 5 s) and closes every handle; a program that still
  // runs is ended, so that nothing is left behind.
  virtual void Close();

  // Waits until the reader thread has ended (the program ended and its output was drained).
  void WaitForReader();
  // The program's exit code (128 + signal when killed); false when it is not known.
  bool ExitCode(int* code);

 protected:
  virtual void Output(const std::string& text);
  virtual void Error(const std::string& text);

  uint32_t wait_ms_ = 1000;

 private:
  void ReadLoop();
  // Hands over what is waiting in the pipe, at most 255 bytes at a time; false at its end.
  bool DrainAvailable();
  void CloseHandles();
  void FinishReader();

  std::thread reader_;
  int stop_pipe_[2] = {-1, -1};  // the stop event: written once to wake the reader
  std::thread::id reader_id_;
  int stdin_write_ = -1;
  int stdout_read_ = -1;
  pid_t child_ = -1;
  bool reaped_ = false;
  int exit_status_ = 0;

  std::mutex reader_mutex_;
  std::condition_variable reader_done_signal_;
  bool reader_done_ = false;
};

// Collects all output into one text.
class SyncRedirector : public CRedirector {
 public:
  SyncRedirector() { wait_ms_ = 100; }
  ~SyncRedirector() override { Close(); }

  // Runs the command line, waits without limit for its output to end, and returns the text;
  // *exit_code gets the program's exit code (when it cannot be read, the error number is
  // appended to the text and *exit_code is -1).
  std::string RunAndCollect(const std::string& command_line, int* exit_code);
  std::string RunAndCollect(const std::vector<std::string>& argv, int* exit_code);
  // The command line is the name followed by each argument.
  std::string RunProgram(const std::string& name, const std::vector<std::string>& arguments, int* exit_code);

 protected:
  void Output(const std::string& text) override { collected_ += text; }
  void Error(const std::string& text) override { collected_ += text; }

 private:
  template <typename CommandLine>
  std::string Collect(const CommandLine& command, int* exit_code);

  std::string collected_;
};
