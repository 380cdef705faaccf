#include "device_registry.h"

#include <functional>

#include "log.h"
#include "random_id.h"

namespace vdevice {

namespace {

// Product IDs Apple devices present on USB.
constexpr uint64_t kIphoneProductId = 0x12a8;
constexpr uint64_t kIpadProductId = 0x12ab;

uint64_t ProductIdOf(const VirtualDevice& device) {
  if (device.profile().product_id != 0) return device.profile().product_id;
  return device.StringValue("DeviceClass").value_or("") == "iPad" ? kIpadProductId : kIphoneProductId;
}

// {"MessageType": type, "DeviceID": id}: the Detached and Paired events.
PlistPtr DeviceEvent(const char* type, uint32_t device_id) {
  PlistPtr message = MakeDict();
  SetString(message.get(), "MessageType", type);
  SetUnsigned(message.get(), "DeviceID", device_id);
  return message;
}

PlistPtr DeviceProperties(const VirtualDevice& device) {
  PlistPtr properties = MakeDict();
  plist_t node = properties.get();
  SetUnsigned(node, "DeviceID", device.device_id());
  SetString(node, "SerialNumber", device.udid());
  if (device.profile().connection == ConnectionKind::kUsb) {
    SetString(node, "ConnectionType", "USB");
    SetUnsigned(node, "ConnectionSpeed", 480000000);
    SetUnsigned(node, "LocationID", 0x14100000 + device.device_id());
    SetUnsigned(node, "ProductID", ProductIdOf(device));
  } else {
    SetString(node, "ConnectionType", "Network");
    SetData(node, "NetworkAddress", NetworkAddressBytes(device.network_host()));
    SetString(node, "EscapedFullServiceName", device.udid() + "._apple-mobdev2._tcp.local.");
  }
  return properties;
}

}  // namespace

void EventQueue::Push(PlistPtr message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(message));
  }
  ready_.notify_all();
}

std::vector<PlistPtr> EventQueue::TakeAll(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !messages_.empty(); });
  std::vector<PlistPtr> taken;
  while (!messages_.empty()) {
    taken.push_back(std::move(messages_.front()));
    messages_.pop_front();
  }
  return taken;
}

DeviceRegistry::DeviceRegistry() : buid_(RandomUuid()) {}

PlistPtr DeviceRegistry::AttachedMessage(const VirtualDevice& device) {
  PlistPtr message = DeviceEvent("Attached", device.device_id());
  SetNode(message.get(), "Properties", DeviceProperties(device));
  return message;
}

int DeviceRegistry::Attach(DeviceProfile profile, std::string* error) {
  std::shared_ptr<VirtualDevice> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : devices_) {
      if (entry.second->udid() == profile.udid) {
        *error = "a device with UDID " + profile.udid + " is attached already";
        return 1;
      }
    }
    std::shared_ptr<PairingStore>& pairings = pairings_by_udid_[profile.udid];
    if (!pairings) pairings = std::make_shared<PairingStore>();
    uint32_t device_id = next_device_id_++;
    device = std::make_shared<VirtualDevice>(std::move(profile), device_id, pairings);
    if (device->profile().connection == ConnectionKind::kNetwork) {
      std::unique_ptr<NetworkEndpoint> endpoint = NetworkEndpoint::Open(device, error);
      if (!endpoint) return 1;
      NetworkEndpoint* raw = endpoint.get();
      device->SetNetworkEndpoint(raw->host(), [raw](const std::string& service) { return raw->OpenServicePort(service); });
      endpoints_[device_id] = std::move(endpoint);
    }
    devices_[device_id] = device;
    std::string udid = device->udid();
    device->SetUnplugHandler([this, udid] { Detach(udid); });
  }
  LogLine("attached %s as device %u (%s)", device->udid().c_str(), device->device_id(),
          device->profile().folder.c_str());
  Broadcast([&device] { return AttachedMessage(*device); });
  return 0;
}

bool DeviceRegistry::Detach(const std::string& udid) {
  std::shared_ptr<VirtualDevice> device;
  std::unique_ptr<NetworkEndpoint> endpoint;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
      if (it->second->udid() == udid) {
        device = it->second;
        devices_.erase(it);
        break;
      }
    }
    if (device && endpoints_.count(device->device_id())) {
      endpoint = std::move(endpoints_[device->device_id()]);
      endpoints_.erase(device->device_id());
    }
  }
  if (!device) return false;
  device->MarkDetached();
  device->CutConnections();
  device->ClearNetworkEndpoint();
  endpoint.reset();
  LogLine("detached %s (device %u)", udid.c_str(), device->device_id());
  uint32_t device_id = device->device_id();
  Broadcast([device_id] { return DeviceEvent("Detached", device_id); });
  return true;
}

void DeviceRegistry::DetachAll() {
  for (const auto& device : Devices()) Detach(device->udid());
}

std::shared_ptr<VirtualDevice> DeviceRegistry::FindById(uint32_t device_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = devices_.find(device_id);
  return found == devices_.end() ? nullptr : found->second;
}

std::shared_ptr<VirtualDevice> DeviceRegistry::FindByUdid(const std::string& udid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : devices_) {
    if (entry.second->udid() == udid) return entry.second;
  }
  return nullptr;
}

std::vector<std::shared_ptr<VirtualDevice>> DeviceRegistry::Devices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<VirtualDevice>> list;
  for (const auto& entry : devices_) list.push_back(entry.second);
  return list;
}

std::shared_ptr<EventQueue> DeviceRegistry::Subscribe() {
  auto queue = std::make_shared<EventQueue>();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : devices_) queue->Push(AttachedMessage(*entry.second));
  listeners_.push_back(queue);
  return queue;
}

// Holds the registry lock while pushing, so a new subscriber never misses nor doubles an event.
void DeviceRegistry::Broadcast(const std::function<PlistPtr()>& make_message) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = listeners_.begin(); it != listeners_.end();) {
    if (std::shared_ptr<EventQueue> queue = it->lock()) {
      queue->Push(make_message());
      ++it;
    } else {
      it = listeners_.erase(it);
    }
  }
}

std::optional<std::string> DeviceRegistry::ReadPairRecord(const std::string& udid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = pair_records_.find(udid);
  if (found == pair_records_.end()) return std::nullopt;
  return found->second;
}

void DeviceRegistry::SavePairRecord(const std::string& udid, const std::string& record) {
  std::shared_ptr<VirtualDevice> device = FindByUdid(udid);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pair_records_[udid] = record;
  }
  if (!device) return;
  uint32_t device_id = device->device_id();
  Broadcast([device_id] { return DeviceEvent("Paired", device_id); });
}

bool DeviceRegistry::CompletePendingPairing(VirtualDevice& device) {
  PlistPtr record = device.TakePendingPairing();
  std::string host_id = record ? DictString(record.get(), "HostID").value_or("") : "";
  if (host_id.empty()) return false;
  if (!DictString(record.get(), "SystemBUID")) SetString(record.get(), "SystemBUID", buid_);
  device.pairings().Add(host_id);
  LogLine("usbmuxd: %s trusts host %s now; pairing completed", device.udid().c_str(), host_id.c_str());
  SavePairRecord(device.udid(), ToBinary(record.get()));
  return true;
}

bool DeviceRegistry::DeletePairRecord(const std::string& udid) {
  std::lock_guard<std::mutex> lock(mutex_);
  return pair_records_.erase(udid) > 0;
}

}  // namespace vdevice
