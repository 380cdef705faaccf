#include "iOSAPI/mobile_export_fun.h"

#include <cstring>
#include <sstream>

#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"

namespace {

// The variable that lists extra library folders, and the folders every installation adds.
constexpr const char* kSearchPathVariable = "TANDREL_FRAMEWORK_PATH";
constexpr const char* kFrameworkFolders[] = {"/usr/local/lib/tandrel/devicefw/", "/usr/lib/tandrel/devicefw/"};
constexpr uint32_t kHostValueBytes = 512;
constexpr size_t kValueNameChars = 260;
constexpr uint32_t kMobileDeviceValueBytes = 520;

enum LibraryKind { MD, CF };

struct SlotInfo {
  const char* symbol;
  LibraryKind library;
  size_t offset;  // of the field in MobileExportTable
};

const SlotInfo& Slot(int slot) {
  static const SlotInfo kSlots[kMobileExportSlotCount] = {
#define KOR_SLOT_INFO(slot, field, symbol, lib, type) {symbol, lib, offsetof(MobileExportTable, field)},
      KOR_MOBILE_EXPORT_SLOTS(KOR_SLOT_INFO)
#undef KOR_SLOT_INFO
  };
  return kSlots[slot];
}

std::vector<std::string> SplitFolders(const std::string& text) {
  std::vector<std::string> folders;
  std::stringstream stream(text);
  std::string folder;
  while (std::getline(stream, folder, ';')) {
    if (!folder.empty()) folders.push_back(folder);
  }
  return folders;
}

}  // namespace

CMobileExportFun& CMobileExportFun::GetInstance() {
  // Never destroyed while other threads may still call into the framework.
  static CMobileExportFun* instance = new CMobileExportFun();
  return *instance;
}

std::string CMobileExportFun::SearchPathVariable() { return kst::GetEnv(kSearchPathVariable); }

void CMobileExportFun::ExtendSearchPath() {
  std::string current = kst::GetEnv(kSearchPathVariable);
  std::string added;
  for (const char* folder : kFrameworkFolders) added += std::string(folder) + ";";
  std::string extended = current.empty() ? added : current + ";" + added;
  KLOG(INFO) << extended;
  if (!kst::SetEnv(kSearchPathVariable, extended)) {
    KLOG(ERROR) << "SetEnvironmentVariable Error: " << errno;
  }
  for (const std::string& folder : SplitFolders(extended)) kst::KstLibrary::AddSearchFolder(folder);
}

bool CMobileExportFun::ReadHostLibraryPath(std::string* path) const {
  const kst::KstRegistry& registry = registry_ ? *registry_ : kst::KstRegistry::Machine();
  return kst::ReadRegistryString(registry, kMobileDeviceSupportKey, kHostLibraryValue, kHostValueBytes, path) &&
         kst::PathExists(*path);
}

bool CMobileExportFun::FindMobileDevicePath(std::string* path) const {
  const kst::KstRegistry& registry = registry_ ? *registry_ : kst::KstRegistry::Machine();
  for (uint32_t index = 0;; ++index) {
    std::string name;
    int rc = registry.EnumValueName(kMobileDeviceSupportKey, index, kValueNameChars, &name);
    if (rc == kst::kRegMoreData) continue;
    if (rc != kst::kRegSuccess) return false;
    if (name != kMobileDeviceValueNames[0] && name != kMobileDeviceValueNames[1]) continue;
    return kst::ReadRegistryString(registry, kMobileDeviceSupportKey, name, kMobileDeviceValueBytes, path) &&
           kst::PathExists(*path);
  }
}

void CMobileExportFun::LoadBaseLibraryBeside(const std::string& host_path) {
  std::string base = kst::ParentFolder(host_path) + "/" + kBaseLibrary;
  if (!kst::PathExists(base)) return;
  if (!base_.Load(base)) KLOG(ERROR) << "Base Error Code: " << base_.LastError();
}

bool CMobileExportFun::ResolveAll() {
  static const int kOrder[] = {KOR_MOBILE_EXPORT_RESOLVE_ORDER};
  static_assert(sizeof(kOrder) / sizeof(kOrder[0]) == kMobileExportSlotCount, "every slot is resolved once");
  MobileExportTable resolved;
  for (int slot : kOrder) {
    const SlotInfo& info = Slot(slot);
    const kst::KstLibrary& library = info.library == MD ? mobile_device_ : core_foundation_;
    void* address = library.Symbol(info.symbol);
    if (!address) {
      KLOG(ERROR) << "device framework symbol missing: " << info.symbol;
      return false;
    }
    std::memcpy(reinterpret_cast<char*>(&resolved) + info.offset, &address, sizeof(address));
  }
  table_ = resolved;
  return true;
}

void CMobileExportFun::ResolveExtensions() {
  extensions_.AFCFileInfoOpenBatch =
      reinterpret_cast<KorAFCFileInfoOpenBatchFn>(mobile_device_.Symbol(KOR_AFC_FILE_INFO_OPEN_BATCH_SYMBOL));
}

bool CMobileExportFun::Init() {
  std::lock_guard<std::mutex> lock(init_mutex_);
  if (initialised_.load() == 1) return true;
  ExtendSearchPath();
  std::string host_path;
  if (!ReadHostLibraryPath(&host_path)) return false;
  KLOG(INFO) << "strPathHost: " << host_path;
  kst::KstLibrary::AddSearchFolder(kst::ParentFolder(host_path));
  LoadBaseLibraryBeside(host_path);
  if (!host_.Load(host_path)) {
    KLOG(ERROR) << "Host Error Code: " << host_.LastError();
    return false;
  }
  std::string mobile_device_path;
  if (!FindMobileDevicePath(&mobile_device_path)) return false;
  KLOG(INFO) << "strPathiTunes: " << mobile_device_path;
  if (!mobile_device_.Load(mobile_device_path)) {
    KLOG(ERROR) << "MobileDevice load failed: " << mobile_device_.LastError();
    return false;
  }
  if (!core_foundation_.Load(kCoreFoundationLibrary)) {
    KLOG(ERROR) << "CoreFoundation load failed: " << core_foundation_.LastError();
    return false;
  }
  if (!ResolveAll()) {
    initialised_.store(0);
    return false;
  }
  ResolveExtensions();
  initialised_.store(1);
  return true;
}
