#include "platform/kst_crash_dump.h"

#define UNW_LOCAL_ONLY
#include <dirent.h>
#include <fcntl.h>
#include <libunwind.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kst {

namespace {

constexpr int kMaxFrames = 64;
constexpr int kThreadAnswerWaitMs = 1000;

// The thread asked to write its backtrace, and where; -1 when no one is asked.
std::atomic<long> g_trace_tid{-1};
std::atomic<int> g_trace_fd{-1};
std::atomic<bool> g_trace_done{false};

int TraceSignal() { return SIGRTMIN + 3; }

long CurrentThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

// Formats into a stack buffer and writes it; long lines are cut.
void WriteLine(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteLine(int fd, const char* format, ...) {
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(line, sizeof(line), format, arguments);
  va_end(arguments);
  if (length <= 0) return;
  size_t size = length < static_cast<int>(sizeof(line)) ? static_cast<size_t>(length) : sizeof(line) - 1;
  ssize_t ignored = write(fd, line, size);
  (void)ignored;
}

void WriteFrames(int fd, unw_cursor_t* cursor) {
  for (int frame = 0; frame < kMaxFrames; ++frame) {
    unw_word_t ip = 0;
    unw_get_reg(cursor, UNW_REG_IP, &ip);
    char name[256] = "??";
    unw_word_t offset = 0;
    if (unw_get_proc_name(cursor, name, sizeof(name), &offset) != 0) std::strcpy(name, "??");
    WriteLine(fd, "  #%02d 0x%016lx %s+0x%lx\n", frame, static_cast<unsigned long>(ip), name,
              static_cast<unsigned long>(offset));
    if (unw_step(cursor) <= 0) break;
  }
}

void WriteOwnBacktrace(int fd) {
  unw_context_t context;
  unw_cursor_t cursor;
  if (unw_getcontext(&context) != 0 || unw_init_local(&cursor, &context) != 0) return;
  WriteFrames(fd, &cursor);
}

void OnTraceRequest(int, siginfo_t*, void*) {
  int saved_errno = errno;
  if (g_trace_tid.load() == CurrentThreadId()) {
    int fd = g_trace_fd.load();
    if (fd >= 0) WriteOwnBacktrace(fd);
    g_trace_done.store(true);
  }
  errno = saved_errno;
}

void WriteRegisters(int fd, void* context) {
#if defined(__x86_64__)
  const auto* uc = static_cast<const ucontext_t*>(context);
  const greg_t* r = uc->uc_mcontext.gregs;
  struct Named {
    const char* name;
    int index;
  };
  static const Named kRegisters[] = {
      {"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP}, {"rax", REG_RAX}, {"rbx", REG_RBX},
      {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"r8", REG_R8},
      {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13},
      {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL}};
  WriteLine(fd, "Registers:\n");
  for (const Named& reg : kRegisters) {
    WriteLine(fd, "  %-6s 0x%016llx\n", reg.name, static_cast<unsigned long long>(r[reg.index]));
  }
#else
  (void)context;
  WriteLine(fd, "Registers: not recorded on this architecture\n");
#endif
}

// Unwinds the faulting thread from the interrupted frame, not from inside the handler.
void WriteFaultingThread(int fd, void* context) {
  WriteLine(fd, "Thread %ld (crashed):\n", CurrentThreadId());
  unw_cursor_t cursor;
  if (unw_init_local2(&cursor, static_cast<unw_context_t*>(context), UNW_INIT_SIGNAL_FRAME) != 0) {
    WriteOwnBacktrace(fd);
    return;
  }
  WriteFrames(fd, &cursor);
}

bool WaitForTrace() {
  for (int waited = 0; waited < kThreadAnswerWaitMs; ++waited) {
    if (g_trace_done.load()) return true;
    timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
  return false;
}

void AskThreadForTrace(int fd, long tid) {
  WriteLine(fd, "Thread %ld:\n", tid);
  g_trace_done.store(false);
  g_trace_fd.store(fd);
  g_trace_tid.store(tid);
  bool answered = syscall(SYS_tgkill, getpid(), tid, TraceSignal()) == 0 && WaitForTrace();
  g_trace_tid.store(-1);
  g_trace_fd.store(-1);
  if (!answered) WriteLine(fd, "  (no backtrace: the thread did not answer)\n");
}

struct LinuxDirent64 {
  ino64_t inode;
  off64_t offset;
  unsigned short length;
  unsigned char type;
  char name[];
};

// Walks /proc/self/task with getdents64, which allocates nothing.
void WriteOtherThreads(int fd) {
  int tasks = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (tasks < 0) return;
  long self = CurrentThreadId();
  alignas(8) char buffer[4096];
  for (;;) {
    long read = syscall(SYS_getdents64, tasks, buffer, sizeof(buffer));
    if (read <= 0) break;
    for (long at = 0; at < read;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
      at += entry->length;
      char* end = nullptr;
      long tid = std::strtol(entry->name, &end, 10);
      if (end == entry->name || *end != '\0' || tid == self) continue;
      AskThreadForTrace(fd, tid);
    }
  }
  close(tasks);
}

}  // namespace

void InstallThreadTraceHandler() {
  struct sigaction action{};
  action.sa_sigaction = OnTraceRequest;
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(TraceSignal(), &action, nullptr);
}

void WriteCrashDump(int fd, int signal_number, const siginfo_t* info, void* context) {
  WriteLine(fd, "Crash of process %ld\n", static_cast<long>(getpid()));
  WriteLine(fd, "signal %d (%s), code %d\n", signal_number, sigabbrev_np(signal_number) ? sigabbrev_np(signal_number) : "?",
            info ? info->si_code : 0);
  WriteLine(fd, "fault address %p\n", info ? info->si_addr : nullptr);
  if (context) WriteRegisters(fd, context);
  if (context) {
    WriteFaultingThread(fd, context);
  } else {
    WriteLine(fd, "Thread %ld (crashed):\n", CurrentThreadId());
    WriteOwnBacktrace(fd);
  }
  WriteOtherThreads(fd);
}

}  // namespace kst
