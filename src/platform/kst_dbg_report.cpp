#include "platform/kst_dbg_report.h"

#include <mutex>

namespace {

std::mutex g_mutex;
KSTDbgReport::Registration g_registration;

}  // namespace

bool KSTDbgReport::RegisterCrashFilter(const std::string& dump_path, CleanupCallback cleanup,
                                       ReportCallback report) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_registration = Registration{dump_path, cleanup, report, true};
  return true;
}

KSTDbgReport::Registration KSTDbgReport::Registered() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_registration;
}
