#include "utility/module/connect/kor_module_connect.h"

#include "Tandrel/kor_process.h"
#include "platform/kst_log.h"
#include "platform/qr_task_schedular.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/kor_command.h"
#include "utility/module/connect/kor_driver_download.h"
#include "utility/module/connect/kor_elevated_relay.h"
#include "utility/module/connect/kor_elevated_work.h"

int KorModuleConnect::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  bool elevated_command = packet->command == kKorCommandInstallDrivers || packet->command == kKorCommandCheckStoreITunes;
  if (payload.format != 1) {
    if (elevated_command) return kKorOk;
    SendResult(packet, std::string(), kKorOk);
    return kKorOk;
  }
  switch (packet->command) {
    case kKorCommandRestartFramework:
      return RestartFramework(packet);
    case kKorCommandDownloadDrivers: {
      int code = KorDownloadDrivers(packet);
      SendResult(packet, std::string(), code);
      return code;
    }
    case kKorCommandInstallDrivers:
    case kKorCommandCheckStoreITunes:
      return ElevatedCommand(packet);
    default:
      return kKorOk;
  }
}

int KorModuleConnect::RestartFramework(kst::IPCPacket* packet) {
  KLOG(INFO) << "DoStartLoadiTunesDll Begin: ";
  int code = KorDeviceMonitor::Get().StartMonitoringAndReport();
  KLOG(INFO) << "DoStartLoadiTunesDll: " << code;
  SendResult(packet, std::string(), code);
  return code;
}

int KorModuleConnect::ElevatedCommand(kst::IPCPacket* packet) {
  if (KorProcess::Get().StartParams().type == kKorStartTypeElevated) {
    int code = packet->command == kKorCommandInstallDrivers ? KorInstallDrivers(packet) : KorCheckStoreITunes(packet);
    if (auto task = FindCommandTask(packet)) QrTask::NotifySchedular(task, kQrTaskStatusFinished);
    return code;
  }
  int code = KorRelayToElevated(packet);
  if (code >= 0) SendResult(packet, std::string(), code);
  return code < 0 ? kKorOk : code;
}

int KorModuleConnect::OnElevatedPacket(kst::IPCPacket* packet) {
  if (packet->command == kKorCommandInstallDrivers || packet->command == kKorCommandCheckStoreITunes) {
    KorPassElevatedReply(packet);
  }
  return kKorOk;
}
