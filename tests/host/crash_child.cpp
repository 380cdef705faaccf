// A program that registers Tandrel's crash reports, logs a line, parks a second thread and then
// crashes on purpose, so that a test can look at what the crash filter leaves behind.
// Usage: crash_child LOG_FOLDER PRODUCT VERSION
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Tandrel/kor_crash_report.h"
#include "Tandrel/kor_process.h"
#include "platform/kst_log.h"

namespace {

std::atomic<bool> g_parked{false};

__attribute__((noinline)) void ParkedWorker() {
  g_parked.store(true);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

__attribute__((noinline)) void CrashOnPurpose(volatile int* target) {
  *target = 42;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  KorStartParams params;
  params.product = argv[2];
  params.version = argv[3];
  params.open_log = true;
  KorProcess::Get().SetStartParams(params);
  kst::LogSettings settings;
  settings.program_name = "crash_child";
  settings.folder = argv[1];
  kst::StartLog(settings);
  KLOG(INFO) << "about to crash on purpose";
  KorRegisterCrashReports(argv[1]);
  std::thread(ParkedWorker).detach();
  while (!g_parked.load()) std::this_thread::yield();
  CrashOnPurpose(nullptr);
  return 0;
}
