// The device framework loader: finds the framework's libraries through the registry, loads them
// and resolves its 99 entry points by name into one process-wide table.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "devicefw/device_framework_abi.h"
#include "iOSAPI/mobile_export_slots.h"
#include "platform/kst_dynlib.h"
#include "platform/kst_registry.h"

// The typed table: one field per slot, in slot order.
struct MobileExportTable {
#define KOR_TABLE_FIELD(slot, field, symbol, lib, type) type field = nullptr;
  KOR_MOBILE_EXPORT_SLOTS(KOR_TABLE_FIELD)
#undef KOR_TABLE_FIELD
};

// Entry points of this project's own framework beyond the table. A framework without them still
// loads; each is null then, and its callers do the work through the table.
struct MobileExtensionTable {
  KorAFCFileInfoOpenBatchFn AFCFileInfoOpenBatch = nullptr;
};

constexpr const char* kMobileDeviceSupportKey = "SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";
constexpr const char* kHostLibraryValue = "AirTrafficHostDLL";
constexpr const char* kMobileDeviceValueNames[] = {"iTunesMobileDeviceDLL", "MobileDeviceDLL"};
constexpr const char* kCoreFoundationLibrary = "libCoreFoundation.so";
constexpr const char* kBaseLibrary = "libucrtbase.so";
constexpr int kMobileExportSlotCount = 99;

class CMobileExportFun {
 public:
  static CMobileExportFun& GetInstance();
  // The program uses GetInstance(); separate instances exist for tests of the loading rules.
  CMobileExportFun() = default;

  // True when every slot is resolved; at once when an earlier call succeeded.
  bool Init();
  bool Initialised() const { return initialised_.load() == 1; }
  const MobileExportTable& Table() const { return table_; }
  const MobileExtensionTable& Extensions() const { return extensions_; }

  // For tests and tools: which registry to read (the machine's by default).
  void UseRegistry(const kst::KstRegistry* registry) { registry_ = registry; }
  // The folders added to the library search, in order (after Init).
  static std::string SearchPathVariable();

 private:
  void ExtendSearchPath();
  bool ReadHostLibraryPath(std::string* path) const;
  bool FindMobileDevicePath(std::string* path) const;
  void LoadBaseLibraryBeside(const std::string& host_path);
  bool ResolveAll();
  void ResolveExtensions();

  MobileExportTable table_;
  MobileExtensionTable extensions_;
  std::atomic<int> initialised_{0};
  std::mutex init_mutex_;
  const kst::KstRegistry* registry_ = nullptr;
  kst::KstLibrary mobile_device_;
  kst::KstLibrary host_;
  kst::KstLibrary base_;
  kst::KstLibrary core_foundation_;
};

// Shorthand for the table of the loaded framework.
inline const MobileExportTable& MobileApi() { return CMobileExportFun::GetInstance().Table(); }
inline const MobileExtensionTable& MobileExtensions() { return CMobileExportFun::GetInstance().Extensions(); }
