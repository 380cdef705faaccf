// Watches a running transfer from a thread of its own: when the task is stopped or the device
// goes away, it interrupts the connection once, so that a receive that waits for the device
// (which may rightly stay silent for minutes) ends within a fraction of a second.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "utility/module/itunes/kor_backup_hooks.h"

class KorTransferWatch {
 public:
  explicit KorTransferWatch(const KorBackupHooks& hooks);
  ~KorTransferWatch();
  KorTransferWatch(const KorTransferWatch&) = delete;
  KorTransferWatch& operator=(const KorTransferWatch&) = delete;

 private:
  void Run();

  const KorBackupHooks& hooks_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::thread thread_;
};
