// Runs Tandrel as the front-end does, in a private temporary folder, for integration tests.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frontend_link.h"

namespace harness {

// A fresh folder under the system's temporary folder, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct TandrelOptions {
  std::string brand = "TandrelTest";
  std::string task_id = "1";
  int type = 0;
  int64_t watched_pid = 0;
  int open_log = 0;  // 1: Tandrel writes its log file into LogFolder()
  std::map<std::string, std::string> environment;  // TMPDIR is set to the harness's folder
  std::vector<std::string> load_modules;           // plug-in folders
};

class Tandrel {
 public:
  explicit Tandrel(TandrelOptions options = TandrelOptions());
  ~Tandrel();

  // Listens, starts Tandrel and waits for its start-up report; false on failure.
  bool Start();
  frontend::Link& Link() { return link_; }
  const frontend::Message& StartupReport() const { return startup_report_; }
  int64_t Pid() const { return link_.TandrelPid(); }
  // TMPDIR/brand/date/Tandrel-pid/
  std::string WorkFolder() const;
  std::string LogFolder() const;
  const std::string& TempPath() const { return temp_.Path(); }

  // Sends a command and collects its messages up to the final reply.
  std::vector<frontend::Message> Run(uint32_t command, uint64_t task, const std::string& json,
                                     const std::string& attachment = std::string(),
                                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  TandrelOptions options_;
  TempFolder temp_;
  frontend::Link link_;
  frontend::Message startup_report_;
};

std::string TandrelPath();
std::string TandrelctlPath();
std::string TodayText();

}  // namespace harness
