// The second reply of the basic-information command: battery cycle count and storage use by
// category, from the diagnostics and asset-metrics services.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "iOSAPI/kor_value.h"

struct KorStorageCategory {
  int64_t size = 0;
  int64_t count = 0;
};

struct KorStorageResult {
  static constexpr std::array<const char*, 7> kKnownCategories = {"Application", "Photo", "CameraRoll", "Movie",
                                                                   "Book",        "Music", "Ringtone"};
  std::optional<int64_t> cycle_count;
  std::array<KorStorageCategory, 7> known;  // in kKnownCategories order
  int64_t total = 0;
  int64_t free = 0;
  std::vector<std::pair<std::string, int64_t>> further;  // name_Count, name_PhysicalSize, ...
};

// Fills the totals and categories from an "AssetMetrics" message's value tree.
void KorParseAssetMetrics(const KorValue& message, KorStorageResult* result);
// The JSON text of the second reply.
std::string KorStorageJson(const KorStorageResult& result);

// Talks to the device; each part stays empty when its service cannot be started.
void KorReadBatteryCycleCount(AMDeviceRef device, KorStorageResult* result);
void KorReadAssetMetrics(AMDeviceRef device, KorStorageResult* result);

// The asset-metrics conversation on an open connection (exposed for tests with a scripted peer).
struct KorServiceIo;
void KorAssetMetricsExchange(const KorServiceIo& io, KorStorageResult* result);
