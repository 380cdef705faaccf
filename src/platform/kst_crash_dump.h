// The dump a crash leaves behind: the signal, the fault address, the faulting thread's registers
// and a symbolised backtrace of every thread of the process. Written from a fatal-signal handler,
// so it uses only raw file descriptors and stack buffers.
#pragma once

#include <signal.h>

namespace kst {

// Installs the handler that lets other threads write their own backtrace on request.
void InstallThreadTraceHandler();
// Writes the whole dump to `fd`; `context` is the ucontext the handler received.
void WriteCrashDump(int fd, int signal_number, const siginfo_t* info, void* context);

}  // namespace kst
