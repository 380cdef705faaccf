#include "utility/module/basicinfo/kor_module_basicinfo.h"

#include "iOSAPI/kor_cf.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/module/basicinfo/kor_device_summary.h"
#include "utility/module/basicinfo/kor_storage_report.h"

int KorModuleBasicInfo::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  if (!ParseCommandJson(payload, &json)) return SendResult(packet, "", kKorBadJson);
  std::string uuid;
  VelJsonUtil::GetString(json, "uuid", &uuid);
  std::shared_ptr<KorDevice> device = FindCommandDevice(json, true);
  if (!device) return SendResult(packet, uuid, kKorNoDevice);
  int result = kKorOk;
  if (payload.format == 1) {
    switch (packet->command) {
      case kKorCommandRefresh:
        result = Refresh(device);
        break;
      case kKorCommandBasicInfo:
        result = BasicInfo(packet, device);
        break;
      case kKorCommandRename:
        result = Rename(payload, device);
        break;
      default:
        break;
    }
  }
  return SendResult(packet, uuid, result);
}

int KorModuleBasicInfo::Refresh(const std::shared_ptr<KorDevice>& device) {
  if (device->State() == kKorDeviceReady) return kKorOk;
  return KorDeviceMonitor::Get().RunReadinessStep(device);
}

void KorModuleBasicInfo::SendDataReply(kst::IPCPacket* packet, const std::string& uuid, const std::string& json) {
  KLOG(INFO) << json;
  KorMessage message;
  message.uuid = uuid;
  message.attachment = reinterpret_cast<const uint8_t*>(json.data());
  message.attachment_length = json.size();
  SendIntermediate(packet, message);
}

int KorModuleBasicInfo::BasicInfo(kst::IPCPacket* packet, const std::shared_ptr<KorDevice>& device) {
  int result = kKorOk;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  if (!afc) return kKorNoAfcService;
  std::string udid = device->UniqueDeviceId();
  SendDataReply(packet, udid, KorDeviceSummaryJson(device));
  KorStorageResult storage;
  KorReadBatteryCycleCount(device->Device(), &storage);
  KorReadAssetMetrics(device->Device(), &storage);
  SendDataReply(packet, udid, KorStorageJson(storage));
  return kKorOk;
}

int KorModuleBasicInfo::Rename(const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device) {
  rapidjson::Document parameters;
  std::string name;
  if (!ParseCommandParameters(payload, &parameters) || !VelJsonUtil::GetString(parameters, "name", &name)) {
    return kKorBadParameters;
  }
  int result = kKorOk;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  if (!afc) return kKorNoAfcService;
  KorCFHolder value = KorMakeString(name);
  if (!value) return kKorBadParameters;
  mach_error_t rc = MobileApi().AMDeviceSetValue(device->Device(), nullptr, KorConstantString("DeviceName"), value.Get());
  if (rc != kAMDSuccess) {
    KLOG(WARNING) << "rename refused by the device: " << rc;
    return kKorRenameRefused;
  }
  KorDeviceInfo info = device->Info();
  info.device_name = name;
  device->SetInfo(info);
  return kKorOk;
}
