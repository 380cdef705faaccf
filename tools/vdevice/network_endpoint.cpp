#include "network_endpoint.h"

#include <chrono>
#include <cstdlib>
#include <random>

#include "device_connection.h"
#include "device_service.h"
#include "log.h"

namespace vdevice {

namespace {

constexpr int kBindAttempts = 32;
constexpr int kBacklog = 16;
// A started service nobody connects to stops listening after this long.
constexpr int kServiceAcceptTimeoutMs = 60000;
constexpr int kAcceptPollMs = 100;

std::string RandomLoopbackHost() {
  std::random_device random;
  std::uniform_int_distribution<int> octet(1, 254);
  return "127." + std::to_string(octet(random)) + "." + std::to_string(octet(random)) + "." +
         std::to_string(octet(random));
}

kst::KstSocket ListenTcp(const std::string& host, uint16_t port) {
  kst::StreamAddress address;
  address.is_unix = false;
  address.host = host;
  address.port = port;
  return kst::ListenStreamAddress(address, kBacklog);
}

}  // namespace

std::string NetworkAddressBytes(const std::string& ipv4_host) {
  std::string bytes(16, '\0');
  bytes[0] = 16;
  bytes[1] = 2;
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t dot = ipv4_host.find('.', start);
    bytes[4 + i] = static_cast<char>(std::atoi(ipv4_host.substr(start, dot - start).c_str()));
    start = dot == std::string::npos ? ipv4_host.size() : dot + 1;
  }
  return bytes;
}

std::unique_ptr<NetworkEndpoint> NetworkEndpoint::Open(std::shared_ptr<VirtualDevice> device, std::string* error) {
  for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
    std::string host = RandomLoopbackHost();
    kst::KstSocket listener = ListenTcp(host, kLockdownPort);
    if (listener.Valid()) {
      return std::unique_ptr<NetworkEndpoint>(new NetworkEndpoint(std::move(device), host, std::move(listener)));
    }
  }
  *error = "no loopback address with a free port 62078 for the network device";
  return nullptr;
}

NetworkEndpoint::NetworkEndpoint(std::shared_ptr<VirtualDevice> device, std::string host, kst::KstSocket listener)
    : device_(std::move(device)), host_(std::move(host)), lockdown_listener_(std::move(listener)) {
  acceptor_ = std::thread([this] {
    AcceptUntilStopped(
        lockdown_listener_, threads_,
        [this](kst::KstSocket& socket) { ServeDeviceConnection(socket, *device_, kLockdownServiceName, stopping_, true); },
        stopping_);
  });
  LogLine("%s is reachable over TCP at %s", device_->udid().c_str(), host_.c_str());
}

NetworkEndpoint::~NetworkEndpoint() {
  stopping_.store(true);
  acceptor_.join();
  threads_.StopAll();
}

uint16_t NetworkEndpoint::OpenServicePort(const std::string& service) {
  kst::KstSocket listener = ListenTcp(host_, 0);
  int port = listener.Valid() ? listener.LocalPort() : -1;
  if (port <= 0) return 0;
  // The thread owns the listener, waits for the one client and then serves it.
  threads_.Start(std::move(listener), [this, service](kst::KstSocket& one_shot) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServiceAcceptTimeoutMs);
    while (!stopping_.load() && std::chrono::steady_clock::now() < deadline) {
      if (!one_shot.WaitReadable(kAcceptPollMs)) continue;
      kst::KstSocket client = kst::Accept(one_shot);
      if (client.Valid()) ServeDeviceConnection(client, *device_, service, stopping_, true);
      return;
    }
  });
  return static_cast<uint16_t>(port);
}

}  // namespace vdevice
