// The backup module: make, restore and list backups, find-my-device and encryption state, the
// backup password, the desktop media application, and databases taken out of a fresh backup.
// Modules that want those databases attach to it as observers of
// "KOR_ITUNES_BACKUP_EXTRACT_FILE" (record: KorBackupExtractEvent), for example from the module
// registry: KorModuleiTunes::Instance()->Attach(observer).
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <string>

#include "utility/kor_module.h"
#include "utility/kst_subject.h"
#include "utility/module/itunes/kor_backup_hooks.h"

class KorDevice;
class KorDeviceService;

constexpr uint32_t kKorCommandBackup = 1600;
constexpr uint32_t kKorCommandRestore = 1601;
constexpr uint32_t kKorCommandListBackups = 1602;
constexpr uint32_t kKorCommandFindMyDevice = 1603;
constexpr uint32_t kKorCommandBackupEncryption = 1604;
constexpr uint32_t kKorCommandBackupPassword = 1605;
constexpr uint32_t kKorCommandMediaAppRunning = 1606;
constexpr uint32_t kKorCommandEndMediaApp = 1607;
constexpr uint32_t kKorCommandExtractDatabases = 1608;

// The extraction backup ended without every wanted database.
constexpr int32_t kKorExtractIncomplete = 46;
// The backup's Manifest.plist cannot be read ("BackupManifestPlistError").
constexpr int32_t kKorBackupManifestUnreadable = 47;
// A yes/no state answered "no" (find-my-device off, encryption off, no media application).
constexpr int32_t kKorStateNo = 1;

class KorModuleiTunes : public KorModule, public KSTSubject {
 public:
  // The registered instance, or null before registration.
  static KorModuleiTunes* Instance();

  int OnCommand(kst::IPCPacket* packet) override;

  struct Reply {
    int32_t code = 0;
    std::string message;
  };
  // The restore of 1601 run for another command (erase content ends with it): the same
  // parameters, progress messages on that command's packet; the restore's code and message.
  Reply RestoreFor(kst::IPCPacket* packet, const rapidjson::Value& parameters, const std::shared_ptr<KorDevice>& device) {
    return Restore(packet, parameters, device);
  }

 private:

  Reply Dispatch(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                 const std::shared_ptr<KorDevice>& device);
  Reply Backup(kst::IPCPacket* packet, const rapidjson::Value& parameters, const std::shared_ptr<KorDevice>& device);
  Reply Restore(kst::IPCPacket* packet, const rapidjson::Value& parameters, const std::shared_ptr<KorDevice>& device);
  Reply ListBackups(kst::IPCPacket* packet, const rapidjson::Value& parameters, const std::string& uuid);
  Reply ChangePassword(const rapidjson::Value& parameters, const std::shared_ptr<KorDevice>& device);
  Reply Extract(kst::IPCPacket* packet, const rapidjson::Value& json, const std::shared_ptr<KorDevice>& device);

  static std::shared_ptr<KorDeviceService> StartBackupService(const std::shared_ptr<KorDevice>& device);
  static KorBackupHooks TransferHooks(const kst::IPCPacket* packet, const std::shared_ptr<KorDevice>& device,
                                      const std::shared_ptr<KorDeviceService>& service);
  static void SendInfo(const kst::IPCPacket* packet, const std::string& uuid, int stage, const std::string& info);
};
