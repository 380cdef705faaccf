// Shared handles of a device: its framework connection, its lockdown session and its started
// services. Registries let modules share one connection, one session and one AFC service per
// device while any of them holds it; the registries never keep the objects alive.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "devicefw/device_framework_abi.h"

// Result codes of opening a device.
enum KorDeviceResult : int {
  kKorDeviceOk = 0,
  kKorDeviceTooOld = 3,
  kKorFrameworkMissing = 9,
  kKorDeviceServiceNotRunning = 10,
  kKorSubscriptionFailed = 11,
  kKorAfcUnavailable = 12,
  kKorAfcDeviceInfoFailed = 17,
  kKorNoConnection = 24,
  kKorNotPaired = 25,
  kKorValidatePairingFailed = 26,
  kKorStartSessionFailed = 27,
  kKorDeviceLocked = 48,
  kKorNoSession = 49,
};

class KorDeviceConnection {
 public:
  KorDeviceConnection(AMDeviceRef device, uint32_t connection_id) : device_(device), connection_id_(connection_id) {}
  ~KorDeviceConnection();
  KorDeviceConnection(const KorDeviceConnection&) = delete;
  KorDeviceConnection& operator=(const KorDeviceConnection&) = delete;
  AMDeviceRef Device() const { return device_; }
  uint32_t ConnectionId() const { return connection_id_; }

 private:
  AMDeviceRef device_;
  uint32_t connection_id_;
};

class KorDeviceSession {
 public:
  KorDeviceSession(AMDeviceRef device, std::shared_ptr<KorDeviceConnection> connection)
      : device_(device), connection_(std::move(connection)) {}
  ~KorDeviceSession();
  KorDeviceSession(const KorDeviceSession&) = delete;
  KorDeviceSession& operator=(const KorDeviceSession&) = delete;
  AMDeviceRef Device() const { return device_; }

 private:
  AMDeviceRef device_;
  std::shared_ptr<KorDeviceConnection> connection_;
};

class KorDeviceService {
 public:
  KorDeviceService(AMDServiceConnectionRef service, AFCConnectionRef afc, std::string name, AMDeviceRef device,
                   std::shared_ptr<KorDeviceSession> session);
  ~KorDeviceService();
  KorDeviceService(const KorDeviceService&) = delete;
  KorDeviceService& operator=(const KorDeviceService&) = delete;

  AMDServiceConnectionRef Connection() const { return service_; }
  AFCConnectionRef Afc() const { return afc_; }
  const std::string& Name() const { return name_; }
  AMDeviceRef Device() const { return device_; }
  // The lockdown session the service was started in.
  const std::shared_ptr<KorDeviceSession>& Session() const { return session_; }

 private:
  AMDServiceConnectionRef service_;
  AFCConnectionRef afc_;
  std::string name_;
  AMDeviceRef device_;
  std::shared_ptr<KorDeviceSession> session_;
};

constexpr const char* kKorAfcService = "com.apple.afc";
constexpr const char* kKorBackupService = "com.apple.mobilebackup2";

// The three registries and the operations on them.
class KorDeviceHandles {
 public:
  static KorDeviceHandles& Get();

  std::shared_ptr<KorDeviceConnection> GetConnection(AMDeviceRef device);
  std::shared_ptr<KorDeviceConnection> NewConnection(AMDeviceRef device);
  std::shared_ptr<KorDeviceSession> CreateSession(AMDeviceRef device, int* result);
  std::shared_ptr<KorDeviceSession> GetSession(AMDeviceRef device, int* result);
  std::shared_ptr<KorDeviceSession> OpenSession(AMDeviceRef device, int* result);
  // The entry point of the modules: "com.apple.afc" is shared per device; other services are
  // started anew each time. `afc` opens an AFC connection on the service.
  std::shared_ptr<KorDeviceService> GetService(AMDeviceRef device, int* result, const std::string& name,
                                               CFDictionaryRef options, bool afc);
  // A "com.apple.afc" service with an AFC connection of its own, shared with nobody: for work
  // that spreads its requests over several connections at once.
  std::shared_ptr<KorDeviceService> StartPrivateAfc(AMDeviceRef device, int* result);
  // Drops a departed device's connection and session entries.
  void ForgetDevice(AMDeviceRef device);
  // Called by a closing backup service: wakes service starts waiting for the device.
  void ReleaseBackupKey(AMDeviceRef device);

 private:
  KorDeviceHandles() = default;
  std::shared_ptr<KorDeviceConnection> MakeConnection(AMDeviceRef device);
  std::shared_ptr<KorDeviceService> StartService(AMDeviceRef device, int* result, const std::string& name,
                                                 CFDictionaryRef options, bool afc);
  static std::string BackupKey(AMDeviceRef device);

  std::mutex connection_mutex_;
  std::map<AMDeviceRef, std::weak_ptr<KorDeviceConnection>> connections_;
  std::mutex session_mutex_;
  std::map<AMDeviceRef, std::weak_ptr<KorDeviceSession>> sessions_;
  std::mutex service_mutex_;
  std::condition_variable backup_released_;
  std::map<AMDeviceRef, std::weak_ptr<KorDeviceService>> afc_services_;
  std::set<std::string> busy_backups_;
};
