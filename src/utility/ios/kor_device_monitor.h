// Watches devices arrive and leave through the framework's notifications, keeps one KorDevice per
// attached USB device, reads each device's information and tells the front-end and the observers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"

class KorDeviceMonitor {
 public:
  static KorDeviceMonitor& Get();

  std::mutex& Lock() { return mutex_; }
  // Starts monitoring (the caller holds Lock()): 0, 9 (no framework), 10 (no device service)
  // or 11 (subscription failed).
  int StartMonitoring();
  // Takes the lock, starts monitoring and sends the start report (command 9). Returns the result.
  int StartMonitoringAndReport();
  // Returns the observer's number.
  uint32_t RegisterObserver(KorDeviceCallback* observer);

  // A device by identifier, else by its number (the low 32 bits of its handle, signed or not);
  // null when neither matches.
  std::shared_ptr<KorDevice> FindDevice(const std::string& uuid, int64_t code);
  std::vector<std::shared_ptr<KorDevice>> Devices();

  // Reads the device's information into it; a result code.
  int ReadDeviceInformation(const std::shared_ptr<KorDevice>& device);
  // Reads the information and, on success, marks the device ready and tells the observers.
  int RunReadinessStep(const std::shared_ptr<KorDevice>& device);

  void HandleNotification(AMDeviceRef device, uint32_t message);

 private:
  KorDeviceMonitor() = default;
  void OnArrived(AMDeviceRef device);
  void OnLeft(AMDeviceRef device);
  void OnOther(AMDeviceRef device);
  void OnPairedAgain(AMDeviceRef device);
  std::shared_ptr<KorDevice> FindByHandleLocked(AMDeviceRef device);
  void TellObserversLocked(const std::shared_ptr<KorDevice>& device, uint32_t event);
  void SendDeviceMessage(uint32_t command, const std::shared_ptr<KorDevice>& device);
  void SendErrorReport(const std::shared_ptr<KorDevice>& device, int code);
  int LoadFrameworkOnce();

  std::mutex mutex_;
  std::vector<std::shared_ptr<KorDevice>> devices_;
  uint32_t observer_counter_ = 0;
  std::map<uint32_t, KorDeviceCallback*> observers_;
  bool framework_loaded_ = false;
  AMDeviceNotificationRef subscription_ = nullptr;

  // The subscription task's outcome, waited for by the starter.
  std::mutex outcome_mutex_;
  std::condition_variable outcome_signal_;
  bool outcome_ready_ = false;
  bool subscribe_failed_ = false;
};

// True when the device service (usbmuxd) accepts a connection.
bool KorDeviceServiceRunning();
// major × 10 + minor of a dotted version text ("7.1.2" and "7.1" give 71).
uint32_t KorVersionNumber(const std::string& version);
