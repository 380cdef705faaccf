// One attached simulated device: its profile, the states a test can flip while it is attached
// (trust, passcode lock), its lockdown values, the computers it is paired with, the service
// ports lockdown has opened, the faults armed on it and the connections it serves.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "device_profile.h"
#include "fault_table.h"
#include "platform/kst_socket.h"
#include "plist_util.h"

namespace vdevice {

// The computers a device trusts. Kept by the registry per UDID so that unplugging and
// plugging the device back in does not forget them, as on a real device.
class PairingStore {
 public:
  bool Contains(const std::string& host_id) const;
  void Add(const std::string& host_id);
  bool Remove(const std::string& host_id);
  void Clear();
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> host_ids_;
};

inline constexpr uint16_t kLockdownPort = 62078;

class VirtualDevice {
 public:
  VirtualDevice(DeviceProfile profile, uint32_t device_id, std::shared_ptr<PairingStore> pairings);

  uint32_t device_id() const { return device_id_; }
  const std::string& udid() const { return profile_.udid; }
  const DeviceProfile& profile() const { return profile_; }

  TrustState trust() const;
  // Anything but "on" also forgets existing pairings, as resetting trust on a phone does.
  void SetTrust(TrustState state);
  bool locked() const;
  void SetLocked(bool locked);

  PairingStore& pairings() { return *pairings_; }
  // A computer's pairing request that waits for the trust dialog (Pair was answered
  // PairingDialogResponsePending). usbmuxd completes it itself once the user trusts the computer.
  void SetPendingPairing(PlistPtr pair_record);
  PlistPtr TakePendingPairing();
  FaultTable& faults() { return faults_; }

  // A copy of one value (key given) or of a whole domain (key empty); null when missing.
  PlistPtr GetValue(const std::string& domain, const std::string& key) const;
  void SetValue(const std::string& domain, const std::string& key, PlistPtr value);
  bool RemoveValue(const std::string& domain, const std::string& key);
  std::optional<std::string> StringValue(const std::string& key) const;

  // Opens a one-shot port for a started service; the next connection to it reaches the service.
  // Empty when no port could be opened.
  std::optional<uint16_t> OpenServicePort(const std::string& service);
  // The service waiting on `port`, which is closed by this call.
  std::optional<std::string> ClaimServicePort(uint16_t port);

  // A network device's services listen on TCP; this opens such a port (0 on failure).
  using NetworkPortOpener = std::function<uint16_t(const std::string& service)>;
  void SetNetworkEndpoint(const std::string& host, NetworkPortOpener opener);
  void ClearNetworkEndpoint();
  // The IPv4 address a network device is reached at ("" for USB devices).
  std::string network_host() const;

  // The backup password the backup service encrypts with (empty: none); kept in memory like
  // the values SetValue changes.
  std::string backup_password() const;
  void SetBackupPassword(const std::string& password);
  // A passcode prompt on the screen: `ctl passcode UDID` enters the passcode, the waiting
  // service takes the answer.
  void EnterPasscode() { passcode_entered_.store(true); }
  bool TakePasscodeEntry() { return passcode_entered_.exchange(false); }
  // Pulls the cable from inside a service (the unplug fault); the registry supplies how.
  void SetUnplugHandler(std::function<void()> handler);
  void Unplug();

  bool attached() const { return attached_.load(); }
  void MarkDetached() { attached_.store(false); }

  // Connections are tracked so that detaching the device cuts them, like pulling the cable.
  void TrackConnection(const kst::KstSocket* socket);
  void UntrackConnection(const kst::KstSocket* socket);
  void CutConnections();

 private:
  const DeviceProfile profile_;
  const uint32_t device_id_;
  std::shared_ptr<PairingStore> pairings_;
  FaultTable faults_;

  mutable std::mutex mutex_;
  TrustState trust_;
  bool locked_;
  PlistPtr pending_pairing_;
  std::map<std::string, PlistPtr> domains_;
  std::map<uint16_t, std::string> service_ports_;
  uint16_t next_port_ = 49152;
  std::set<const kst::KstSocket*> connections_;
  std::string network_host_;

  // Held while a network port is opened, so that the endpoint cannot go away meanwhile.
  std::mutex network_mutex_;
  NetworkPortOpener network_port_opener_;
  std::atomic<bool> attached_{true};
  std::atomic<bool> passcode_entered_{false};
  std::string backup_password_;
  std::function<void()> unplug_;
};

}  // namespace vdevice
