#include "utility/module/erase/kor_module_erase.h"

#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/qr_task.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/module/app/kor_module_app.h"
#include "utility/module/erase/kor_content_erase.h"
#include "utility/module/erase/kor_free_space_fill.h"
#include "utility/module/itunes/kor_module_itunes.h"

namespace {

std::string ErrorInfo(const std::string& message) {
  rapidjson::Document info(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "error", message);
  return VelJsonUtil::ToString(info);
}

// The restore's parameters and the backup's manifest are checked before anything is erased, so
// that a command that could never restore does not leave an emptied device behind.
bool HasRestoreParameters(const rapidjson::Value& parameters) {
  std::string text;
  return VelJsonUtil::GetString(parameters, "path", &text) && VelJsonUtil::GetString(parameters, "sourceDeviceId", &text) &&
         VelJsonUtil::GetString(parameters, "password", &text);
}

}  // namespace

int KorModuleErase::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  DeviceCommand command;
  int early_reply = 0;
  if (!BeginDeviceCommand(packet, payload, &command, &early_reply)) return early_reply;
  const std::string& uuid = command.uuid;
  const std::shared_ptr<KorDevice>& device = command.device;
  if (payload.format != 1) return SendResult(packet, uuid, kKorOk);
  rapidjson::Document parameters;
  if (!ParseCommandParameters(payload, &parameters)) return SendResult(packet, uuid, kKorBadParameters);
  KorEraseResult result;
  if (packet->command == kKorCommandEraseContent) {
    result = EraseContent(packet, parameters, device);
  } else if (packet->command == kKorCommandEraseFreeSpace) {
    result = EraseFreeSpace(packet, parameters, device);
  }
  KLOG(INFO) << "erase " << packet->command << " RES: " << result.code << " " << result.message;
  if (result.code == kKorStopped) {
    if (auto task = FindCommandTask(packet)) QrTask::NotifySchedular(task, kQrTaskStatusStopped);
  }
  return SendResult(packet, uuid, result.code, ErrorInfo(result.message));
}

KorEraseTask KorModuleErase::TaskOf(kst::IPCPacket* packet, const std::string& uuid) {
  KorEraseTask task;
  task.report = [packet, uuid](int32_t stage, int64_t progress) {
    rapidjson::Document info(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictInt64Value(info, info.GetAllocator(), "progress", progress);
    KorMessage message;
    message.stage = stage;
    message.uuid = uuid;
    message.info = VelJsonUtil::ToString(info);
    SendIntermediate(packet, message);
  };
  task.stopped = [packet] { return IsStopped(packet); };
  return task;
}

KorEraseResult KorModuleErase::EraseContent(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                            const std::shared_ptr<KorDevice>& device) {
  if (!HasRestoreParameters(parameters)) return {kKorBadJson, "ParameterError"};
  std::string folder;
  VelJsonUtil::GetString(parameters, "path", &folder);
  if (!kst::PathExists(folder + "/Manifest.plist")) {
    KLOG(WARNING) << "erase content: no backup to restore at " << folder << "; nothing erased";
    return {kKorBackupManifestUnreadable, "BackupManifestPlistError"};
  }
  int rc = 0;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &rc, kKorAfcService, nullptr, true);
  if (!afc) return {kKorEraseNoAfc, "open afc error"};
  auto installer = KorDeviceHandles::Get().GetService(device->Device(), &rc, kKorInstallerService, nullptr, false);
  if (!installer) return {kKorEraseNoInstaller, "open app uninstall service error"};
  KorEraseTask task = TaskOf(packet, device->UniqueDeviceId());
  KorEmptyMediaFolders(afc->Afc(), task);
  size_t uninstalled = KorUninstallUserApps(KorFrameworkIo(installer->Connection()), task);
  KLOG(INFO) << "erase content: media folders emptied, " << uninstalled << " applications uninstalled";
  return RestoreBackup(packet, parameters, device);
}

KorEraseResult KorModuleErase::RestoreBackup(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                             const std::shared_ptr<KorDevice>& device) {
  KorModuleiTunes* backup = KorModuleiTunes::Instance();
  if (!backup) {
    KLOG(WARNING) << "erase content: no backup module is registered; the device was erased but nothing was restored";
    return {kKorEraseRestoreUnavailable, "restore unavailable"};
  }
  KorModuleiTunes::Reply restored = backup->RestoreFor(packet, parameters, device);
  return {restored.code, restored.message};
}

KorEraseResult KorModuleErase::EraseFreeSpace(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                              const std::shared_ptr<KorDevice>& device) {
  int64_t level = 0;
  VelJsonUtil::GetInt64(parameters, "level", &level);
  int rc = 0;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &rc, kKorAfcService, nullptr, true);
  if (!afc) return {kKorEraseNoAfc, "open afc error"};
  return KorFillFreeSpace(afc->Afc(), level, device->Info().fs_free_bytes, TaskOf(packet, device->UniqueDeviceId()));
}
