#include "platform/kst_signal.h"

#include <signal.h>
#include <time.h>

#include <cerrno>

namespace kst {

namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

bool BlockTerminationSignals() {
  sigset_t set = TerminationSet();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForTermination(int timeout_ms) {
  sigset_t set = TerminationSet();
  for (;;) {
    int signal_number;
    if (timeout_ms < 0) {
      signal_number = sigwaitinfo(&set, nullptr);
    } else {
      timespec wait{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
      signal_number = sigtimedwait(&set, nullptr, &wait);
    }
    if (signal_number > 0) return signal_number;
    if (errno == EAGAIN) return 0;
    if (errno != EINTR) return 0;
  }
}

}  // namespace kst
