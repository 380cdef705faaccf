#include "utility/module/basicinfo/kor_device_summary.h"

#include <rapidjson/document.h>

#include "iOSAPI/kor_cf_value.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device_handles.h"

namespace {

enum class Kind { kText, kBool, kInteger, kFamilies };

struct Member {
  const char* key;
  Kind kind;
  const char* domain;  // "" for the default domain
};

// The members of the first reply, in their order.
const Member kMembers[] = {
    {"RegionInfo", Kind::kText, ""},
    {"DeviceName", Kind::kText, ""},
    {"DeviceClass", Kind::kText, ""},
    {"ProductType", Kind::kText, ""},
    {"ProductVersion", Kind::kText, ""},
    {"SerialNumber", Kind::kText, ""},
    {"UniqueDeviceID", Kind::kText, ""},
    {"ModelNumber", Kind::kText, ""},
    {"BuildVersion", Kind::kText, ""},
    {"HardwareModel", Kind::kText, ""},
    {"DeviceEnclosureColor", Kind::kText, ""},
    {"CPUArchitecture", Kind::kText, ""},
    {"WiFiAddress", Kind::kText, ""},
    {"BluetoothAddress", Kind::kText, ""},
    {"PartitionType", Kind::kText, ""},
    {"FirmwareVersion", Kind::kText, ""},
    {"ActivationState", Kind::kText, ""},
    {"ActivationStateAcknowledged", Kind::kBool, ""},
    {"BasebandVersion", Kind::kText, ""},
    {"BasebandBootloaderVersion", Kind::kText, ""},
    {"BasebandChipId", Kind::kInteger, ""},
    {"BasebandGoldCertId", Kind::kInteger, ""},
    {"IntegratedCircuitCardIdentity", Kind::kText, ""},
    {"InternationalMobileEquipmentIdentity", Kind::kText, ""},
    {"InternationalMobileSubscriberIdentity", Kind::kText, ""},
    {"MLBSerialNumber", Kind::kText, ""},
    {"MobileSubscriberCountryCode", Kind::kText, ""},
    {"MobileSubscriberNetworkCode", Kind::kText, ""},
    {"MobileEquipmentIdentifier", Kind::kText, ""},
    {"PasswordProtected", Kind::kBool, ""},
    {"PhoneNumber", Kind::kText, ""},
    {"ProductionSOC", Kind::kBool, ""},
    {"ProtocolVersion", Kind::kText, ""},
    {"SIMStatus", Kind::kText, ""},
    {"SupportedDeviceFamilies", Kind::kFamilies, ""},
    {"TimeIntervalSince1970", Kind::kInteger, ""},
    {"TimeZone", Kind::kText, ""},
    {"TimeZoneOffsetFromUTC", Kind::kInteger, ""},
    {"UniqueChipID", Kind::kInteger, ""},
    {"Uses24HourClock", Kind::kBool, ""},
    {"BatteryIsCharging", Kind::kBool, "com.apple.mobile.battery"},
    {"Keyboard", Kind::kText, "com.apple.international"},
    {"BatteryCurrentCapacity", Kind::kInteger, "com.apple.mobile.battery"},
    {"TotalDiskCapacity", Kind::kInteger, "com.apple.disk_usage"},
    {"TotalSystemAvailable", Kind::kInteger, "com.apple.disk_usage"},
    {"TotalSystemCapacity", Kind::kInteger, "com.apple.disk_usage"},
};

constexpr const char* kJailbreakService = "com.apple.afc2";
constexpr const char* kJailbreakFolder = "/var/root/Media/Cydia/AutoInstall";

bool ReadText(AMDeviceRef device, const Member& member, std::string* text) {
  KorCFHolder value = KorCopyDomainValue(device, member.domain, member.key);
  return value && KorCFStringToUtf8(value.Get(), text);
}

bool ReadBool(AMDeviceRef device, const Member& member, bool* flag) {
  KorCFHolder value = KorCopyDomainValue(device, member.domain, member.key);
  if (KorTypeOf(value.Get()) != kCFTypeIDBoolean) return false;
  *flag = MobileApi().CFBooleanGetValue(value.As<CFBooleanRef>()) != 0;
  return true;
}

void AddMember(AMDeviceRef device, const Member& member, rapidjson::Document* reply,
               const std::shared_ptr<KorDevice>& owner) {
  auto& allocator = reply->GetAllocator();
  switch (member.kind) {
    case Kind::kText: {
      std::string text;
      if (!ReadText(device, member, &text)) return;
      VelJsonUtil::AddJsonDictStringValue(*reply, allocator, member.key, text);
      std::string key = member.key;
      if (key == "ProductType" || key == "ProductVersion" || key == "ModelNumber") KLOG(INFO) << key << ": " << text;
      if (key == "ProductVersion") owner->SetProductVersionUtf8(text);
      return;
    }
    case Kind::kBool: {
      bool flag = false;
      if (ReadBool(device, member, &flag)) VelJsonUtil::AddJsonDictBoolValue(*reply, allocator, member.key, flag);
      return;
    }
    case Kind::kInteger: {
      int64_t number = 0;
      if (KorNumberValue(device, member.key, &number, member.domain)) {
        VelJsonUtil::AddJsonDictInt64Value(*reply, allocator, member.key, number);
      }
      return;
    }
    case Kind::kFamilies: {
      std::vector<int64_t> families;
      if (!KorSupportedDeviceFamilies(device, &families)) return;
      rapidjson::Value list(rapidjson::kArrayType);
      for (int64_t family : families) list.PushBack(rapidjson::Value(family), allocator);
      VelJsonUtil::AddJsonDictObjectValue(*reply, allocator, member.key, list);
      return;
    }
  }
}

}  // namespace

bool KorIsJailbroken(AMDeviceRef device) {
  int result = 0;
  auto service = KorDeviceHandles::Get().GetService(device, &result, kJailbreakService, nullptr, true);
  if (!service) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    AFCDirectoryRef directory = nullptr;
    if (MobileApi().AFCDirectoryOpen(service->Afc(), kJailbreakFolder, &directory) == kAFCSuccess && directory) {
      MobileApi().AFCDirectoryClose(service->Afc(), directory);
      return true;
    }
  }
  return false;
}

std::string KorDeviceSummaryJson(const std::shared_ptr<KorDevice>& device) {
  rapidjson::Document reply(rapidjson::kObjectType);
  for (const Member& member : kMembers) AddMember(device->Device(), member, &reply, device);
  VelJsonUtil::AddJsonDictBoolValue(reply, reply.GetAllocator(), "IsJailbreak", KorIsJailbroken(device->Device()));
  return VelJsonUtil::ToString(reply);
}
