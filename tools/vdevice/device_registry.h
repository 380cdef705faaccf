// The devices usbmuxd reports as attached, the event feed of Listen connections, and the
// computer's side of pairing that usbmuxd keeps (pair records, the system BUID).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "network_endpoint.h"
#include "plist_util.h"
#include "virtual_device.h"

namespace vdevice {

// The messages one Listen connection has yet to send, in order.
class EventQueue {
 public:
  void Push(PlistPtr message);
  // Waits up to timeout_ms for messages and takes them all.
  std::vector<PlistPtr> TakeAll(int timeout_ms);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<PlistPtr> messages_;
};

class DeviceRegistry {
 public:
  DeviceRegistry();

  // Adds a device for the profile (a network device also gets its TCP endpoint).
  // Returns 0, or 1 with *error (a UDID attached already, no endpoint).
  int Attach(DeviceProfile profile, std::string* error);
  // Removes the device and cuts its connections; false when no such device is attached.
  bool Detach(const std::string& udid);
  void DetachAll();

  std::shared_ptr<VirtualDevice> FindById(uint32_t device_id) const;
  std::shared_ptr<VirtualDevice> FindByUdid(const std::string& udid) const;
  std::vector<std::shared_ptr<VirtualDevice>> Devices() const;

  // A new event feed that starts with an "Attached" message for every present device.
  std::shared_ptr<EventQueue> Subscribe();

  // {"MessageType": "Attached", "DeviceID", "Properties"} as usbmuxd sends it.
  static PlistPtr AttachedMessage(const VirtualDevice& device);

  std::optional<std::string> ReadPairRecord(const std::string& udid) const;
  void SavePairRecord(const std::string& udid, const std::string& record);
  bool DeletePairRecord(const std::string& udid);
  // The user trusted the computer: completes the pairing request that waited for it, as usbmuxd
  // does (the device takes the host, the record is kept, every listener hears "Paired").
  // False when no request was waiting.
  bool CompletePendingPairing(VirtualDevice& device);
  const std::string& buid() const { return buid_; }

 private:
  void Broadcast(const std::function<PlistPtr()>& make_message);

  mutable std::mutex mutex_;
  std::map<uint32_t, std::shared_ptr<VirtualDevice>> devices_;
  std::map<uint32_t, std::unique_ptr<NetworkEndpoint>> endpoints_;
  std::map<std::string, std::shared_ptr<PairingStore>> pairings_by_udid_;
  std::map<std::string, std::string> pair_records_;
  std::vector<std::weak_ptr<EventQueue>> listeners_;
  uint32_t next_device_id_ = 1;
  const std::string buid_;
};

}  // namespace vdevice
