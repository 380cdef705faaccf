// Applications: list with metadata and sizes (501), icons (502), install packages (504),
// uninstall (505) and archive (506), over the installation and icon services.
#pragma once

#include <rapidjson/document.h>

#include "utility/kor_module.h"

class KorDevice;
struct KorServiceIo;

constexpr uint32_t kKorCommandListApps = 501;
constexpr uint32_t kKorCommandAppIcons = 502;
constexpr uint32_t kKorCommandInstallApps = 504;
constexpr uint32_t kKorCommandUninstallApps = 505;
constexpr uint32_t kKorCommandArchiveApps = 506;
// The installation or icon service cannot be started.
constexpr int32_t kKorNoAppService = 14;

constexpr const char* kKorInstallerService = "com.apple.mobile.installation_proxy";
constexpr const char* kKorIconService = "com.apple.springboardservices";

// Message stages of the application commands.
constexpr int32_t kKorAppStageCount = 1;      // 501: {"Count":N}
constexpr int32_t kKorAppStageRecords = 2;    // 501: a batch of records
constexpr int32_t kKorAppStagePackage = 1;    // 504: the package read and about to be placed
constexpr int32_t kKorAppStageProgress = 2;   // 504-506: {"bundle_id","progress"}
constexpr int32_t kKorAppStageDeviceError = 3;  // 504-506: {"bundle_id","error"}

class KorModuleApp : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int ListApps(kst::IPCPacket* packet, const std::shared_ptr<KorDevice>& device);
  int SendIcons(kst::IPCPacket* packet, const rapidjson::Value& ids, const std::string& uuid,
                const std::shared_ptr<KorDevice>& device);
  int InstallPackages(kst::IPCPacket* packet, const rapidjson::Value& paths, const std::shared_ptr<KorDevice>& device);
  int RunForEachApp(kst::IPCPacket* packet, const rapidjson::Value& ids, const std::string& command,
                    const std::shared_ptr<KorDevice>& device);
  // Sends the request and reports the answers' progress and errors until "Complete".
  void FollowInstaller(kst::IPCPacket* packet, const KorServiceIo& io, const std::string& request_xml,
                       const std::string& bundle_id, const std::string& uuid);
};
