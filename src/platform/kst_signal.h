// Termination requests (Ctrl-C, kill) delivered to one waiting thread instead of ending the
// process at once, so that a server can close its sockets and join its threads.
#pragma once

namespace kst {

// Call before starting any thread: the termination signals are then held for WaitForTermination.
bool BlockTerminationSignals();
// Blocks until SIGINT or SIGTERM arrives (or timeout_ms passes; negative waits forever).
// Returns the signal number, or 0 on time-out.
int WaitForTermination(int timeout_ms);

}  // namespace kst
