// What a backup transfer asks of the command that runs it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

struct KorBackupHooks {
  // True once the device has gone away (device state 2).
  std::function<bool()> device_gone;
  // True once the command's task was stopped.
  std::function<bool()> stopped;
  // Called whenever the progress in hundredths of a percent (0 … 10000) grows.
  std::function<void(int)> progress;
  // Called after each uploaded file was written; true ends the transfer at once with code 0
  // (every file the command waited for is in).
  std::function<bool(const std::string& local_path)> file_arrived;
  // Ends a receive that blocks on the connection; called from another thread when the task is
  // stopped or the device goes away.
  std::function<void()> interrupt;
  // A connection that breaks because the device was unplugged usually breaks before the device
  // is reported gone; a failed receive waits this long for that report before it counts as a
  // plain connection failure.
  std::chrono::milliseconds loss_grace{2000};
};

inline bool KorHookSays(const std::function<bool()>& hook) { return hook && hook(); }
