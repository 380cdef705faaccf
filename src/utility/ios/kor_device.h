// One attached device as the device layer keeps it, and the observer interface through which
// the device monitor reports devices.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "devicefw/device_framework_abi.h"

enum KorDeviceState : uint32_t {
  kKorDeviceReady = 1,
  kKorDeviceGone = 2,
  kKorDeviceOpening = 3,
  kKorDeviceReopening = 4,
};

// The files staged from the device to the computer, one local-path slot each (empty: not staged).
enum KorStagedSlot : size_t {
  kKorSlotPhotoLibrary,
  kKorSlotMediaLibrary,
  kKorSlotITunesCdb,
  kKorSlotRingtones,
  kKorSlotBooks,
  kKorSlotPurchasedBooks,
  kKorSlotRecordings,
  kKorSlotRecordingsManifest,
  kKorSlotMusicLibrary,
  kKorSlotLocations,
  kKorSlotCount,
};

// What the device layer has read about a device.
struct KorDeviceInfo {
  int64_t fs_total_bytes = 0;
  int64_t fs_free_bytes = 0;
  std::string model;
  std::string product_version;
  uint32_t version_number = 0;  // major × 10 + minor
  std::string device_name;
  std::string unique_device_id;  // empty until the information was read
  std::string serial_number;
  std::string device_class;
  std::string unused_text;
  std::string unique_chip_id;
  std::string product_version_utf8;
  std::array<std::string, 14> further_texts;
};

class KorDevice {
 public:
  explicit KorDevice(AMDeviceRef device) : device_(device) {}

  AMDeviceRef Device() const { return device_; }
  // The low 32 bits of the framework's device handle: the device's number in messages.
  uint32_t HandleCode() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device_)); }

  uint32_t State() const { return state_.load(); }
  void SetState(uint32_t state) { state_.store(state); }

  KorDeviceInfo Info() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return info_;
  }
  void SetInfo(const KorDeviceInfo& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    info_ = info;
  }
  std::string UniqueDeviceId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return info_.unique_device_id;
  }
  void SetProductVersionUtf8(const std::string& version) {
    std::lock_guard<std::mutex> lock(mutex_);
    info_.product_version_utf8 = version;
  }
  // The local path of the last successful staging of a file (empty when not staged yet).
  std::string StagedPath(KorStagedSlot slot) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return staged_paths_[slot];
  }
  void SetStagedPath(KorStagedSlot slot, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    staged_paths_[slot] = path;
  }

 private:
  AMDeviceRef device_;
  std::atomic<uint32_t> state_{kKorDeviceOpening};
  mutable std::mutex mutex_;
  KorDeviceInfo info_;
  std::array<std::string, kKorSlotCount> staged_paths_;
};

// Device messages to observers.
enum KorDeviceEvent : uint32_t {
  kKorDeviceEventReady = 1,
  kKorDeviceEventGone = 2,
  kKorDeviceEventOther = 3,
};

class KorDeviceCallback {
 public:
  virtual ~KorDeviceCallback() = default;
  // Called with the monitor's lock held: must neither call back into the monitor's lock nor
  // wait on a socket (queue messages with KorClient::Post instead of sending them).
  virtual void OnDeviceEvent(const std::shared_ptr<KorDevice>& device, uint32_t event) = 0;
};
