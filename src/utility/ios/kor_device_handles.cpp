#include "utility/ios/kor_device_handles.h"

#include <cstdio>

#include "iOSAPI/kor_cf.h"
#include "iOSAPI/kor_error_names.h"
#include "platform/kst_log.h"

namespace {

constexpr int kServiceStartAttempts = 5;

}  // namespace

KorDeviceConnection::~KorDeviceConnection() { MobileApi().AMDeviceDisconnect(device_); }

KorDeviceSession::~KorDeviceSession() {
  MobileApi().AMDeviceStopSession(device_);
  connection_.reset();
}

KorDeviceService::KorDeviceService(AMDServiceConnectionRef service, AFCConnectionRef afc, std::string name,
                                   AMDeviceRef device, std::shared_ptr<KorDeviceSession> session)
    : service_(service), afc_(afc), name_(std::move(name)), device_(device), session_(std::move(session)) {
  std::printf("KorDeviceService: %p name: %s\n", static_cast<void*>(this), name_.c_str());
}

KorDeviceService::~KorDeviceService() {
  std::printf("~KorDeviceService: %p name: %s\n", static_cast<void*>(this), name_.c_str());
  if (afc_) MobileApi().AFCConnectionClose(afc_);
  if (service_) MobileApi().AMDServiceConnectionInvalidate(service_);
  if (name_ == kKorBackupService) KorDeviceHandles::Get().ReleaseBackupKey(device_);
}

KorDeviceHandles& KorDeviceHandles::Get() {
  static KorDeviceHandles* handles = new KorDeviceHandles();
  return *handles;
}

std::shared_ptr<KorDeviceConnection> KorDeviceHandles::MakeConnection(AMDeviceRef device) {
  const MobileExportTable& api = MobileApi();
  if (api.AMDeviceConnect(device) != kAMDSuccess) {
    api.AMDeviceDisconnect(device);
    if (api.AMDeviceConnect(device) != kAMDSuccess) return nullptr;
  }
  return std::make_shared<KorDeviceConnection>(device, api.AMDeviceGetConnectionID(device));
}

std::shared_ptr<KorDeviceConnection> KorDeviceHandles::GetConnection(AMDeviceRef device) {
  std::lock_guard<std::mutex> lock(connection_mutex_);
  if (auto alive = connections_[device].lock()) return alive;
  auto made = MakeConnection(device);
  if (made) connections_[device] = made;
  return made;
}

std::shared_ptr<KorDeviceConnection> KorDeviceHandles::NewConnection(AMDeviceRef device) {
  std::lock_guard<std::mutex> lock(connection_mutex_);
  connections_.erase(device);
  auto made = MakeConnection(device);
  if (made) connections_[device] = made;
  return made;
}

std::shared_ptr<KorDeviceSession> KorDeviceHandles::CreateSession(AMDeviceRef device, int* result) {
  const MobileExportTable& api = MobileApi();
  auto connection = GetConnection(device);
  if (!connection) connection = NewConnection(device);
  if (!connection) {
    *result = kKorNoConnection;
    return nullptr;
  }
  if (api.AMDeviceIsPaired(device) == 0) {
    mach_error_t paired = api.AMDevicePair(device);
    KLOG(INFO) << "device not paired; pairing requested: " << KorMobileDeviceErrorName(paired);
    *result = kKorNotPaired;
    return nullptr;
  }
  if (api.AMDeviceValidatePairing(device) != kAMDSuccess) {
    *result = kKorValidatePairingFailed;
    return nullptr;
  }
  api.AMDeviceStartSession(device);
  api.AMDeviceStopSession(device);
  mach_error_t started = api.AMDeviceStartSession(device);
  if (started != kAMDSuccess) {
    KLOG(WARNING) << "AMDeviceStartSession: " << KorMobileDeviceErrorName(started);
    *result = kKorStartSessionFailed;
    return nullptr;
  }
  *result = kKorDeviceOk;
  return std::make_shared<KorDeviceSession>(device, std::move(connection));
}

std::shared_ptr<KorDeviceSession> KorDeviceHandles::GetSession(AMDeviceRef device, int* result) {
  std::lock_guard<std::mutex> lock(session_mutex_);
  if (auto alive = sessions_[device].lock()) {
    *result = kKorDeviceOk;
    return alive;
  }
  auto made = CreateSession(device, result);
  if (made) sessions_[device] = made;
  return made;
}

std::shared_ptr<KorDeviceSession> KorDeviceHandles::OpenSession(AMDeviceRef device, int* result) {
  std::lock_guard<std::mutex> lock(session_mutex_);
  sessions_.erase(device);
  auto made = CreateSession(device, result);
  if (made) sessions_[device] = made;
  return made;
}

std::shared_ptr<KorDeviceService> KorDeviceHandles::StartService(AMDeviceRef device, int* result,
                                                                 const std::string& name, CFDictionaryRef options,
                                                                 bool afc) {
  const MobileExportTable& api = MobileApi();
  CFStringRef service_name = KorConstantString(name);
  auto session = GetSession(device, result);
  if (!session) session = OpenSession(device, result);
  if (!session) return nullptr;
  AMDServiceConnectionRef connection = nullptr;
  mach_error_t error = kAMDUndefinedError;
  for (int attempt = 0; attempt < kServiceStartAttempts && error != kAMDSuccess; ++attempt) {
    error = api.AMDeviceSecureStartService(device, service_name, options, &connection);
  }
  if (error != kAMDSuccess) {
    KLOG(WARNING) << "AMDeviceSecureStartService " << name << ": " << KorMobileDeviceErrorName(error);
    if (error == kAMDPasswordProtectedError) *result = kKorDeviceLocked;
    return nullptr;
  }
  AFCConnectionRef afc_connection = nullptr;
  if (afc) {
    if (api.AMDServiceConnectionGetSecureIOContext(connection) != nullptr) {
      api.AMDServiceConnectionInvalidate(connection);
      return nullptr;
    }
    if (api.AFCConnectionOpen(api.AMDServiceConnectionGetSocket(connection), 0, &afc_connection) != kAFCSuccess) {
      api.AMDServiceConnectionInvalidate(connection);
      return nullptr;
    }
  }
  *result = kKorDeviceOk;
  return std::make_shared<KorDeviceService>(connection, afc_connection, name, device, std::move(session));
}

std::string KorDeviceHandles::BackupKey(AMDeviceRef device) {
  char text[64];
  std::snprintf(text, sizeof(text), "%s-%p", kKorBackupService, static_cast<void*>(device));
  return text;
}

std::shared_ptr<KorDeviceService> KorDeviceHandles::GetService(AMDeviceRef device, int* result,
                                                               const std::string& name, CFDictionaryRef options,
                                                               bool afc) {
  std::unique_lock<std::mutex> lock(service_mutex_);
  if (name == kKorAfcService) {
    if (auto alive = afc_services_[device].lock()) {
      *result = kKorDeviceOk;
      return alive;
    }
    auto started = StartService(device, result, name, nullptr, true);
    if (started) afc_services_[device] = started;
    return started;
  }
  backup_released_.wait(lock, [&] { return busy_backups_.count(BackupKey(device)) == 0; });
  return StartService(device, result, name, options, afc);
}

std::shared_ptr<KorDeviceService> KorDeviceHandles::StartPrivateAfc(AMDeviceRef device, int* result) {
  return StartService(device, result, kKorAfcService, nullptr, true);
}

void KorDeviceHandles::ForgetDevice(AMDeviceRef device) {
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    sessions_.erase(device);
  }
  std::lock_guard<std::mutex> lock(connection_mutex_);
  connections_.erase(device);
}

void KorDeviceHandles::ReleaseBackupKey(AMDeviceRef device) {
  {
    std::lock_guard<std::mutex> lock(service_mutex_);
    busy_backups_.erase(BackupKey(device));
  }
  backup_released_.notify_all();
}
