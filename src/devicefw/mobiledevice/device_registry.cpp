#include "mobiledevice/device_registry.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace devicefw::md {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<uint32_t, AMDeviceRef> attached;  // by usbmuxd handle
  std::unordered_set<AMDeviceRef> every_device;         // all handles ever made, kept for life
};

// Never destroyed: device handles must stay valid while the process exits.
Registry& TheRegistry() {
  static auto* registry = new Registry;
  return *registry;
}

}  // namespace

AMDeviceRef DeviceForAttachment(const DeviceAttachment& attachment) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto found = registry.attached.find(attachment.mux_handle);
  if (found != registry.attached.end() && found->second->attachment.udid == attachment.udid) return found->second;
  auto device = std::make_unique<am_device>(attachment);
  registry.every_device.insert(device.get());
  AMDeviceRef handle = device.release();
  registry.attached[attachment.mux_handle] = handle;
  return handle;
}

void DetachDevice(uint32_t mux_handle) {
  Registry& registry = TheRegistry();
  AMDeviceRef device = nullptr;
  {
    std::lock_guard lock(registry.mutex);
    auto found = registry.attached.find(mux_handle);
    if (found == registry.attached.end()) return;
    device = found->second;
    registry.attached.erase(found);
  }
  std::shared_ptr<DeviceLink> departed;
  {
    std::lock_guard lock(device->mutex);
    departed = std::move(device->link);
  }
  // `departed` is released here, outside every lock; calls still running keep it alive.
}

void DetachAllDevices() {
  std::vector<uint32_t> handles;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (const auto& [mux_handle, device] : registry.attached) handles.push_back(mux_handle);
  }
  for (uint32_t mux_handle : handles) DetachDevice(mux_handle);
}

bool IsKnownDevice(AMDeviceRef device) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.every_device.count(device) != 0;
}

}  // namespace devicefw::md
