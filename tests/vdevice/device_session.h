// Owning wrappers over libimobiledevice handles for the integration tests, so that every test
// talks to the simulated iPhone through the stock client library and releases what it opened.
#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <string>

namespace vdevice_test {

// A device handle plus a lockdown client with a started session (pairing on the way as needed).
class DeviceSession {
 public:
  DeviceSession() = default;
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Returns LOCKDOWN_E_SUCCESS, LOCKDOWN_E_MUX_ERROR when the device cannot be found, or the
  // handshake's error.
  lockdownd_error_t Open(const std::string& udid);
  // Starts a service; returns its error and the descriptor in *service (free it with
  // lockdownd_service_descriptor_free).
  lockdownd_error_t StartService(const std::string& name, lockdownd_service_descriptor_t* service);

  idevice_t device() const { return device_; }
  lockdownd_client_t lockdown() const { return lockdown_; }

 private:
  idevice_t device_ = nullptr;
  lockdownd_client_t lockdown_ = nullptr;
};

// An AFC client on com.apple.afc or com.apple.afc2.
class AfcSession {
 public:
  AfcSession() = default;
  ~AfcSession();
  AfcSession(const AfcSession&) = delete;
  AfcSession& operator=(const AfcSession&) = delete;

  // Returns 0 when the client is ready, else a lockdown error (negative) or AFC error (positive).
  int Open(DeviceSession& session, const std::string& service = "com.apple.afc");
  afc_client_t get() const { return afc_; }

  // Whole-file helpers built on the stock calls, for checking contents.
  afc_error_t WriteFile(const std::string& path, const std::string& content);
  afc_error_t ReadFile(const std::string& path, std::string* content);

 private:
  afc_client_t afc_ = nullptr;
};

// A raw service connection (for services libimobiledevice has no client for).
class ServiceConnection {
 public:
  ~ServiceConnection();
  bool Open(DeviceSession& session, const std::string& service);
  bool Send(const std::string& bytes);
  // Receives exactly `length` bytes within timeout_ms; false on time-out or close.
  bool Receive(size_t length, std::string* bytes, unsigned timeout_ms = 5000);
  idevice_connection_t get() const { return connection_; }

 private:
  idevice_connection_t connection_ = nullptr;
};

}  // namespace vdevice_test
