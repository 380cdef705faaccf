// Where a network (Wi-Fi) device is reached. libimobiledevice connects to such a device
// directly over TCP, at the address usbmuxd reports, port 62078 for lockdown and the started
// services' ports. Each network device gets its own loopback address (127.x.y.z) so that
// several of them, and several servers, can all use port 62078.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "connection_threads.h"
#include "platform/kst_socket.h"
#include "virtual_device.h"

namespace vdevice {

class NetworkEndpoint {
 public:
  // Binds lockdown on a free loopback address and starts accepting; null with *error otherwise.
  static std::unique_ptr<NetworkEndpoint> Open(std::shared_ptr<VirtualDevice> device, std::string* error);
  ~NetworkEndpoint();
  NetworkEndpoint(const NetworkEndpoint&) = delete;
  NetworkEndpoint& operator=(const NetworkEndpoint&) = delete;

  const std::string& host() const { return host_; }
  // Listens on a fresh port for one connection to `service`; returns the port, or 0.
  uint16_t OpenServicePort(const std::string& service);

 private:
  NetworkEndpoint(std::shared_ptr<VirtualDevice> device, std::string host, kst::KstSocket listener);

  std::shared_ptr<VirtualDevice> device_;
  std::string host_;
  kst::KstSocket lockdown_listener_;
  std::atomic<bool> stopping_{false};
  ConnectionThreads threads_;
  std::thread acceptor_;
};

// The NetworkAddress usbmuxd reports: a BSD-style sockaddr_in (length, family, port, address).
std::string NetworkAddressBytes(const std::string& ipv4_host);

}  // namespace vdevice
