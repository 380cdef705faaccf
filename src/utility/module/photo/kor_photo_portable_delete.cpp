#include "utility/module/photo/kor_photo_portable_delete.h"

#include "iOSAPI/kor_afc.h"
#include "platform/kst_log.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/ios/kor_device_monitor.h"

namespace {

// A device's tree deeper than this is not walked further (a hostile or broken file system).
constexpr int kMaxDepth = 32;

bool WalkAndDelete(AFCConnectionRef afc, const std::string& folder, const std::string& name, int depth) {
  if (depth > kMaxDepth) return false;
  bool deleted = false;
  for (const std::string& child : KorAfcListDirectory(afc, folder)) {
    KorAfcFileInfo info;
    if (!KorAfcStat(afc, child, &info)) continue;
    if (info.type == "S_IFDIR") {
      deleted = WalkAndDelete(afc, child, name, depth + 1) || deleted;
      continue;
    }
    if (info.type != "S_IFREG" || KorAfcLastComponent(child).find(name) == std::string::npos) continue;
    if (KorAfcRemovePath(afc, child)) {
      KLOG(INFO) << "delete photos: removed " << child;
      deleted = true;
    } else {
      KLOG(WARNING) << "delete photos: could not remove " << child;
    }
  }
  return deleted;
}

}  // namespace

bool KorDeleteMatchingFiles(AFCConnectionRef afc, const std::string& folder, const std::string& name) {
  if (name.empty() || !afc) return false;
  return WalkAndDelete(afc, folder, name, 0);
}

bool KorDeletePhotosByName(const std::string& name) {
  if (name.empty()) return false;
  for (const std::shared_ptr<KorDevice>& device : KorDeviceMonitor::Get().Devices()) {
    if (device->State() == kKorDeviceGone) continue;
    int result = 0;
    auto afc = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
    if (!afc) {
      KLOG(WARNING) << "delete photos: no file service on " << device->UniqueDeviceId() << ": " << result;
      continue;
    }
    if (KorDeleteMatchingFiles(afc->Afc(), "/DCIM", name)) return true;
  }
  return false;
}
