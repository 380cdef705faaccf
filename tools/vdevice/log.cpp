#include "log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace vdevice {

namespace {

std::atomic<bool> g_verbose{false};
std::mutex g_output_mutex;

void WriteLine(const char* format, va_list arguments) {
  char text[2048];
  std::vsnprintf(text, sizeof(text), format, arguments);
  std::lock_guard<std::mutex> lock(g_output_mutex);
  std::fprintf(stderr, "vdevice: %s\n", text);
  std::fflush(stderr);
}

}  // namespace

void LogLine(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments);
  va_end(arguments);
}

void LogDetail(const char* format, ...) {
  if (!g_verbose.load()) return;
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments);
  va_end(arguments);
}

void SetVerbose(bool on) { g_verbose.store(on); }

}  // namespace vdevice
