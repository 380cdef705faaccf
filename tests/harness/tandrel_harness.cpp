#include "tandrel_harness.h"

#include <stdlib.h>

#include <ctime>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace harness {

TempFolder::TempFolder() {
  std::string pattern = kst::TempFolder() + "tandrel-test-XXXXXX";
  char* made = ::mkdtemp(pattern.data());
  path_ = made ? std::string(made) : std::string();
}

TempFolder::~TempFolder() {
  if (!path_.empty()) kst::RemoveTree(path_);
}

std::string TandrelPath() { return std::string(TANDREL_BIN_DIR) + "/Tandrel"; }
std::string TandrelctlPath() { return std::string(TANDREL_BIN_DIR) + "/tandrelctl"; }

std::string TodayText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof(text), "%Y%m%d", &local);
  return text;
}

Tandrel::Tandrel(TandrelOptions options) : options_(std::move(options)) {}

Tandrel::~Tandrel() {
  link_.Close();
  if (Pid() > 0 && link_.WaitTandrelExit(std::chrono::milliseconds(0)) < 0) {
    kst::KillProcess(Pid(), true);
    link_.WaitTandrelExit(std::chrono::seconds(5));
  }
}

bool Tandrel::Start() {
  if (link_.Listen(0) < 0) return false;
  frontend::StartOptions start;
  start.tandrel_path = TandrelPath();
  start.brand = options_.brand;
  start.task_id = options_.task_id;
  start.type = options_.type;
  start.watched_pid = options_.watched_pid;
  start.open_log = options_.open_log;
  start.environment = options_.environment;
  start.load_modules = options_.load_modules;
  start.environment["TMPDIR"] = temp_.Path();
  if (link_.StartTandrel(start) < 0) return false;
  if (!link_.WaitConnected(std::chrono::seconds(15))) return false;
  auto report = link_.WaitFor(19, std::chrono::seconds(15));
  if (!report) return false;
  startup_report_ = *report;
  return true;
}

std::string Tandrel::LogFolder() const { return temp_.Path() + "/" + options_.brand + "/" + TodayText(); }

std::string Tandrel::WorkFolder() const { return LogFolder() + "/Tandrel-" + std::to_string(Pid()) + "/"; }

std::vector<frontend::Message> Tandrel::Run(uint32_t command, uint64_t task, const std::string& json,
                                            const std::string& attachment, std::chrono::milliseconds timeout) {
  if (!link_.Send(command, task, json, attachment)) return {};
  return link_.CollectUntilFinal(task, timeout);
}

}  // namespace harness
