#include "platform/kst_log.h"

#include <atomic>
#include <mutex>

namespace kst {

namespace {

std::atomic<bool> g_enabled{false};
std::once_flag g_started;
std::once_flag g_stopped;

}  // namespace

bool LogEnabled() { return g_enabled.load(std::memory_order_relaxed); }

void StartLog(const LogSettings& settings) {
  std::call_once(g_started, [&settings] {
    static std::string program_name = settings.program_name;  // glog keeps the pointer
    FLAGS_log_dir = settings.folder;
    FLAGS_max_log_size = settings.max_file_mb;
    FLAGS_logbufsecs = 0;
    FLAGS_alsologtostderr = settings.also_to_stderr;
    google::InitGoogleLogging(program_name.c_str());
    g_enabled.store(true);
  });
}

void StopLog() {
  if (!g_enabled.load()) return;
  std::call_once(g_stopped, [] {
    g_enabled.store(false);
    google::ShutdownGoogleLogging();
  });
}

void FollowHostLog() { g_enabled.store(google::IsGoogleLoggingInitialized()); }

}  // namespace kst
