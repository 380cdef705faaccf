#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/kst_socket.h"

// The data of a command task.
struct TaskMetaData {
  uint32_t command = 0;
  kst::NativeSocket socket = kst::kInvalidSocket;  // the connection the command came in on
  std::string text;                                // set by modules; sent as uuid by plug-in results
  // Set by the first final reply: a command has exactly one, whatever path ends it.
  std::atomic<bool> final_reply_sent{false};
};
