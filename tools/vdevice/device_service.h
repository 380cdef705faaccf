// The seam where device services plug in. A service is one source file that implements
// DeviceService and registers a factory under its lockdown name with VDEVICE_REGISTER_SERVICE;
// lockdown's StartService then offers it, and usbmuxd hands it the connection.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service_stream.h"
#include "virtual_device.h"

namespace vdevice {

struct ServiceContext {
  VirtualDevice& device;
  ServiceStream& stream;
  const std::atomic<bool>& stopping;
};

class DeviceService {
 public:
  virtual ~DeviceService() = default;
  // Serves one connection until the peer closes it, the service ends it, or the server stops.
  virtual void Serve(ServiceContext& context) = 0;
};

// Makes the service for a device, or null when this device does not offer it
// (com.apple.afc2 on a device that is not jailbroken, for example).
using ServiceFactory = std::function<std::unique_ptr<DeviceService>(const VirtualDevice& device)>;

class ServiceRegistry {
 public:
  static bool Register(const std::string& name, ServiceFactory factory);
  static const ServiceFactory* Find(const std::string& name);
  static std::vector<std::string> Names();
};

// The name lockdownd itself is known by; it answers on the fixed port, not through StartService.
inline constexpr const char* kLockdownServiceName = "com.apple.mobile.lockdown";

}  // namespace vdevice

#define VDEVICE_REGISTER_SERVICE(name, factory) \
  [[maybe_unused]] static const bool kRegistered_##factory = ::vdevice::ServiceRegistry::Register(name, factory)
