#include "virtual_device.h"

#include "log.h"

namespace vdevice {

namespace {

// Started services nobody connected to are forgotten beyond this many (lowest port first).
constexpr size_t kMaxPendingServicePorts = 64;

}  // namespace

bool PairingStore::Contains(const std::string& host_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_ids_.count(host_id) > 0;
}

void PairingStore::Add(const std::string& host_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  host_ids_.insert(host_id);
}

bool PairingStore::Remove(const std::string& host_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_ids_.erase(host_id) > 0;
}

void PairingStore::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  host_ids_.clear();
}

size_t PairingStore::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_ids_.size();
}

VirtualDevice::VirtualDevice(DeviceProfile profile, uint32_t device_id, std::shared_ptr<PairingStore> pairings)
    : profile_(std::move(profile)),
      device_id_(device_id),
      pairings_(std::move(pairings)),
      trust_(profile_.trust),
      locked_(profile_.locked) {
  for (const auto& [name, values] : profile_.domains) domains_[name] = Copy(values.get());
  SetBool(domains_[kDefaultDomain].get(), "PasswordProtected", locked_);
}

TrustState VirtualDevice::trust() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return trust_;
}

void VirtualDevice::SetTrust(TrustState state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    trust_ = state;
    if (state == TrustState::kDeny) pending_pairing_.reset();
  }
  if (state != TrustState::kOn) pairings_->Clear();
}

void VirtualDevice::SetPendingPairing(PlistPtr pair_record) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_pairing_ = std::move(pair_record);
}

PlistPtr VirtualDevice::TakePendingPairing() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(pending_pairing_);
}

bool VirtualDevice::locked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return locked_;
}

void VirtualDevice::SetLocked(bool locked) {
  std::lock_guard<std::mutex> lock(mutex_);
  locked_ = locked;
  SetBool(domains_[kDefaultDomain].get(), "PasswordProtected", locked);
}

PlistPtr VirtualDevice::GetValue(const std::string& domain, const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = domains_.find(domain.empty() ? kDefaultDomain : domain);
  if (found == domains_.end()) return nullptr;
  if (key.empty()) return Copy(found->second.get());
  return Copy(plist_dict_get_item(found->second.get(), key.c_str()));
}

void VirtualDevice::SetValue(const std::string& domain, const std::string& key, PlistPtr value) {
  std::lock_guard<std::mutex> lock(mutex_);
  PlistPtr& values = domains_[domain.empty() ? kDefaultDomain : domain];
  if (!values) values = MakeDict();
  SetNode(values.get(), key.c_str(), std::move(value));
}

bool VirtualDevice::RemoveValue(const std::string& domain, const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = domains_.find(domain.empty() ? kDefaultDomain : domain);
  if (found == domains_.end() || !plist_dict_get_item(found->second.get(), key.c_str())) return false;
  plist_dict_remove_item(found->second.get(), key.c_str());
  return true;
}

std::optional<std::string> VirtualDevice::StringValue(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return DictString(domains_.at(kDefaultDomain).get(), key.c_str());
}

void VirtualDevice::SetNetworkEndpoint(const std::string& host, NetworkPortOpener opener) {
  std::lock_guard<std::mutex> network_lock(network_mutex_);
  std::lock_guard<std::mutex> lock(mutex_);
  network_host_ = host;
  network_port_opener_ = std::move(opener);
}

void VirtualDevice::ClearNetworkEndpoint() {
  std::lock_guard<std::mutex> network_lock(network_mutex_);
  network_port_opener_ = nullptr;
}

std::string VirtualDevice::network_host() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return network_host_;
}

std::optional<uint16_t> VirtualDevice::OpenServicePort(const std::string& service) {
  {
    std::lock_guard<std::mutex> network_lock(network_mutex_);
    if (network_port_opener_) {
      uint16_t port = network_port_opener_(service);
      return port == 0 ? std::nullopt : std::optional<uint16_t>(port);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (service_ports_.size() >= kMaxPendingServicePorts) service_ports_.erase(service_ports_.begin());
  uint16_t port;
  do {
    port = next_port_;
    next_port_ = next_port_ == 65535 ? 49152 : static_cast<uint16_t>(next_port_ + 1);
  } while (service_ports_.count(port) > 0);
  service_ports_[port] = service;
  return port;
}

std::optional<std::string> VirtualDevice::ClaimServicePort(uint16_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = service_ports_.find(port);
  if (found == service_ports_.end()) return std::nullopt;
  std::string service = found->second;
  service_ports_.erase(found);
  return service;
}

void VirtualDevice::TrackConnection(const kst::KstSocket* socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.insert(socket);
}

void VirtualDevice::UntrackConnection(const kst::KstSocket* socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(socket);
}

std::string VirtualDevice::backup_password() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return backup_password_;
}

void VirtualDevice::SetBackupPassword(const std::string& password) {
  std::lock_guard<std::mutex> lock(mutex_);
  backup_password_ = password;
}

void VirtualDevice::SetUnplugHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  unplug_ = std::move(handler);
}

void VirtualDevice::Unplug() {
  std::function<void()> unplug;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unplug = unplug_;
  }
  if (unplug) unplug();
}

void VirtualDevice::CutConnections() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const kst::KstSocket* socket : connections_) socket->Shutdown();
}

}  // namespace vdevice
