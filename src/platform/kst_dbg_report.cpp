#include "platform/kst_dbg_report.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/kst_crash_archive.h"
#include "platform/kst_crash_dump.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};
constexpr size_t kAlternateStackSize = 256 * 1024;

std::mutex g_mutex;
KSTDbgReport::Registration g_registration;
std::atomic<bool> g_crashing{false};

// What the handler needs, prepared at registration so the handler only reads it.
struct CrashPlan {
  std::string dump_path;
  std::string folder;  // ends with "/"
  std::string archive_path;
  KSTDbgReport::CleanupCallback cleanup = nullptr;
  KSTDbgReport::ReportCallback report = nullptr;
};
std::atomic<const CrashPlan*> g_plan{nullptr};

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

void DieWithSignal(int signal_number) {
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal_number);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signal_number);
  // A fault signal re-raised by returning re-runs the faulting instruction under the default action.
}

void WriteDump(const CrashPlan& plan, int signal_number, siginfo_t* info, void* context) {
  int fd = open(plan.dump_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  kst::WriteCrashDump(fd, signal_number, info, context);
  close(fd);
}

void OnFatalSignal(int signal_number, siginfo_t* info, void* context) {
  const CrashPlan* plan = g_plan.load();
  if (g_crashing.exchange(true) || !plan) {
    DieWithSignal(signal_number);
    return;
  }
  WriteDump(*plan, signal_number, info, context);
  std::vector<std::string> files{plan->dump_path};
  char* extra = plan->report ? plan->report(plan->folder.c_str()) : nullptr;
  if (extra) files.emplace_back(extra);
  std::free(extra);
  for (std::string& log : kst::ProcessLogFiles(plan->folder, getpid())) files.push_back(std::move(log));
  kst::PackCrashArchive(plan->archive_path, files);
  if (plan->cleanup) plan->cleanup(plan->dump_path.c_str());
  DieWithSignal(signal_number);
}

void InstallAlternateStack() {
  static std::vector<char>* stack = new std::vector<char>(kAlternateStackSize);
  stack_t alternate{};
  alternate.ss_sp = stack->data();
  alternate.ss_size = stack->size();
  sigaltstack(&alternate, nullptr);
}

void InstallFatalHandlers() {
  struct sigaction action{};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kFatalSignals) sigaction(signal_number, &action, nullptr);
}

}  // namespace

std::string KSTDbgReport::ArchivePathFor(const std::string& dump_path, long long pid) {
  std::string stem = dump_path;
  if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".dmp") == 0) stem.resize(stem.size() - 4);
  return stem + "-" + std::to_string(pid) + ".zip";
}

bool KSTDbgReport::RegisterCrashFilter(const std::string& dump_path, CleanupCallback cleanup,
                                       ReportCallback report) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_registration = Registration{dump_path, cleanup, report, true};
  // Plans are kept for the life of the process: a handler may still be reading an older one.
  auto* plan = new CrashPlan{dump_path, FolderOf(dump_path), ArchivePathFor(dump_path, getpid()), cleanup, report};
  bool first = g_plan.exchange(plan) == nullptr;
  if (first) {
    InstallAlternateStack();
    kst::InstallThreadTraceHandler();
    InstallFatalHandlers();
  }
  return true;
}

KSTDbgReport::Registration KSTDbgReport::Registered() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_registration;
}
