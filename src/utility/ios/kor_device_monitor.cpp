#include "utility/ios/kor_device_monitor.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "Tandrel/kor_process.h"
#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/mobile_export_fun.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"
#include "platform/kst_socket.h"
#include "platform/qr_task_pool.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"

namespace {

constexpr const char* kDefaultDeviceServiceAddress = "UNIX:/var/run/usbmuxd";
constexpr uint32_t kMinimumPhoneVersion = 42;

void OnFrameworkNotification(am_device_notification_callback_info* info, void*) {
  if (info) KorDeviceMonitor::Get().HandleNotification(info->dev, info->msg);
}

bool QuietStart() { return KorProcess::Get().StartParams().type == kKorStartTypeQuiet; }

std::string StringValue(AMDeviceRef device, const char* key) {
  KorValue value;
  if (!KorDeviceValue(device, "", key, &value) || !value.IsString()) return std::string();
  return value.AsString();
}

}  // namespace

bool KorDeviceServiceRunning() {
  std::string text = kst::GetEnv("USBMUXD_SOCKET_ADDRESS");
  kst::StreamAddress address;
  if (!kst::ParseStreamAddress(text.empty() ? kDefaultDeviceServiceAddress : text, &address)) return false;
  return kst::ConnectStreamAddress(address).Valid();
}

uint32_t KorVersionNumber(const std::string& version) {
  size_t first = version.find('.');
  uint32_t major = static_cast<uint32_t>(std::strtoul(version.substr(0, first).c_str(), nullptr, 10));
  uint32_t minor = 0;
  if (first != std::string::npos) {
    size_t second = version.find('.', first + 1);
    minor = static_cast<uint32_t>(std::strtoul(version.substr(first + 1, second - first - 1).c_str(), nullptr, 10));
  }
  return major * 10 + minor;
}

KorDeviceMonitor& KorDeviceMonitor::Get() {
  static KorDeviceMonitor* monitor = new KorDeviceMonitor();
  return *monitor;
}

uint32_t KorDeviceMonitor::RegisterObserver(KorDeviceCallback* observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observers_[++observer_counter_] = observer;
  return observer_counter_;
}

int KorDeviceMonitor::LoadFrameworkOnce() {
  if (framework_loaded_) return kKorDeviceOk;
  KLOG(INFO) << "CMobileExportFun::GetInstance().Init() Before";
  if (!CMobileExportFun::GetInstance().Init()) return kKorFrameworkMissing;
  KLOG(INFO) << "CMobileExportFun::GetInstance().Init() Finish";
  if (!KorDeviceServiceRunning()) return kKorDeviceServiceNotRunning;
  KLOG(INFO) << "usbmuxd";
  framework_loaded_ = true;
  return kKorDeviceOk;
}

int KorDeviceMonitor::StartMonitoring() {
  int loaded = LoadFrameworkOnce();
  if (loaded != kKorDeviceOk) return loaded;
  {
    std::lock_guard<std::mutex> lock(outcome_mutex_);
    outcome_ready_ = false;
  }
  QrTaskPool::Get().AddQuickTask([this] {
    mach_error_t rc = MobileApi().AMDeviceNotificationSubscribe(OnFrameworkNotification, 0, 0, nullptr,
                                                                &subscription_);
    {
      std::lock_guard<std::mutex> lock(outcome_mutex_);
      subscribe_failed_ = rc != kAMDSuccess;
      outcome_ready_ = true;
    }
    outcome_signal_.notify_all();
    if (rc == kAMDSuccess) MobileApi().CFRunLoopRun();
  });
  std::unique_lock<std::mutex> lock(outcome_mutex_);
  outcome_signal_.wait(lock, [this] { return outcome_ready_; });
  return subscribe_failed_ ? kKorSubscriptionFailed : kKorDeviceOk;
}

int KorDeviceMonitor::StartMonitoringAndReport() {
  int result;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    result = StartMonitoring();
  }
  KLOG(INFO) << "device monitoring started: " << result;
  rapidjson::Document info(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictIntValue(info, info.GetAllocator(), "error_code", result);
  KorMessage message;
  message.info = VelJsonUtil::ToString(info);
  KorClient::Instance().Send(KorPacketHeader{0, kKorStatusDone, 9}, message);
  return result;
}

std::shared_ptr<KorDevice> KorDeviceMonitor::FindDevice(const std::string& uuid, int64_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!uuid.empty()) {
    for (const auto& device : devices_) {
      if (device->UniqueDeviceId() == uuid) return device;
    }
  }
  // Messages carry the number as a signed 32-bit code, so a front-end may echo it either way.
  if (code < INT32_MIN || code > static_cast<int64_t>(UINT32_MAX)) return nullptr;
  for (const auto& device : devices_) {
    if (device->HandleCode() == static_cast<uint32_t>(code)) return device;
  }
  return nullptr;
}

std::vector<std::shared_ptr<KorDevice>> KorDeviceMonitor::Devices() {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_;
}

std::shared_ptr<KorDevice> KorDeviceMonitor::FindByHandleLocked(AMDeviceRef device) {
  for (const auto& known : devices_) {
    if (known->Device() == device) return known;
  }
  return nullptr;
}

void KorDeviceMonitor::TellObserversLocked(const std::shared_ptr<KorDevice>& device, uint32_t event) {
  for (const auto& [number, observer] : observers_) observer->OnDeviceEvent(device, event);
}

// Device messages are posted, never sent here: the notification thread (and the observers, which
// run under the monitor's lock) must not wait on a front-end that has stopped reading.
void KorDeviceMonitor::SendDeviceMessage(uint32_t command, const std::shared_ptr<KorDevice>& device) {
  if (QuietStart()) return;
  KorMessage message;
  message.code = static_cast<int32_t>(device->HandleCode());
  KorClient::Instance().Post(KorPacketHeader{0, kKorStatusDone, command}, message);
}

void KorDeviceMonitor::SendErrorReport(const std::shared_ptr<KorDevice>& device, int code) {
  KorDeviceInfo info = device->Info();
  KLOG(WARNING) << "device " << info.unique_device_id << " could not be opened: " << code;
  if (QuietStart()) return;
  rapidjson::Document report(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(report, report.GetAllocator(), "device_name", info.device_name);
  VelJsonUtil::AddJsonDictIntValue(report, report.GetAllocator(), "error_code", code);
  KorMessage message;
  message.code = static_cast<int32_t>(device->HandleCode());
  message.uuid = info.unique_device_id;
  message.info = VelJsonUtil::ToString(report);
  KorClient::Instance().Post(KorPacketHeader{0, kKorStatusDone, 12}, message);
}

void KorDeviceMonitor::HandleNotification(AMDeviceRef device, uint32_t message) {
  if (MobileApi().AMDeviceGetInterfaceType(device) != kAMDInterfaceUSB) return;
  switch (message) {
    case ADNCI_MSG_CONNECTED:
      OnArrived(device);
      break;
    case ADNCI_MSG_DISCONNECTED:
      OnLeft(device);
      break;
    case ADNCI_MSG_UNKNOWN:
      OnOther(device);
      break;
    case ADNCI_MSG_TRUSTED:
      OnPairedAgain(device);
      break;
    default:
      break;
  }
}

void KorDeviceMonitor::OnArrived(AMDeviceRef handle) {
  auto device = std::make_shared<KorDevice>(handle);
  SendDeviceMessage(11, device);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.push_back(device);
  }
  int result = kKorDeviceOk;
  if (!KorDeviceHandles::Get().OpenSession(handle, &result)) {
    SendErrorReport(device, result);
    return;
  }
  if (device->State() != kKorDeviceReady) RunReadinessStep(device);
}

void KorDeviceMonitor::OnLeft(AMDeviceRef handle) {
  KorDeviceHandles::Get().ForgetDevice(handle);
  std::unique_lock<std::mutex> lock(mutex_);
  std::shared_ptr<KorDevice> device = FindByHandleLocked(handle);
  if (!device) return;
  devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
  device->SetState(kKorDeviceGone);
  if (device->UniqueDeviceId().empty()) {
    lock.unlock();
    SendDeviceMessage(8, device);
    return;
  }
  TellObserversLocked(device, kKorDeviceEventGone);
}

void KorDeviceMonitor::OnOther(AMDeviceRef handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto device = FindByHandleLocked(handle)) TellObserversLocked(device, kKorDeviceEventOther);
}

void KorDeviceMonitor::OnPairedAgain(AMDeviceRef handle) {
  std::shared_ptr<KorDevice> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device = FindByHandleLocked(handle);
  }
  if (!device) return;
  device->SetState(kKorDeviceReopening);
  int result = kKorDeviceOk;
  if (!KorDeviceHandles::Get().OpenSession(handle, &result)) {
    SendErrorReport(device, result);
    return;
  }
  if (device->State() != kKorDeviceReady) RunReadinessStep(device);
}

int KorDeviceMonitor::RunReadinessStep(const std::shared_ptr<KorDevice>& device) {
  int result = ReadDeviceInformation(device);
  if (result != kKorDeviceOk) {
    SendErrorReport(device, result);
    return result;
  }
  device->SetState(kKorDeviceReady);
  std::lock_guard<std::mutex> lock(mutex_);
  // A device that left while it was being read is not announced.
  if (FindByHandleLocked(device->Device()) == device) TellObserversLocked(device, kKorDeviceEventReady);
  return result;
}

int KorDeviceMonitor::ReadDeviceInformation(const std::shared_ptr<KorDevice>& device) {
  AMDeviceRef handle = device->Device();
  int result = kKorDeviceOk;
  auto session = KorDeviceHandles::Get().GetSession(handle, &result);
  if (!session) return result != kKorDeviceOk ? result : kKorNoSession;

  KorDeviceInfo info = device->Info();
  info.product_version = StringValue(handle, "ProductVersion");
  info.device_name = StringValue(handle, "DeviceName");
  info.unique_device_id = StringValue(handle, "UniqueDeviceID");
  info.serial_number = StringValue(handle, "SerialNumber");
  info.device_class = StringValue(handle, "DeviceClass");
  KorValue chip;
  if (KorDeviceValue(handle, "", "UniqueChipID", &chip) && chip.IsInt64()) {
    info.unique_chip_id = std::to_string(chip.AsInteger());
  }
  info.version_number = KorVersionNumber(info.product_version);
  info.product_version_utf8 = info.product_version;
  device->SetInfo(info);
  if ((info.device_class == "iPod" || info.device_class == "iPhone") && info.version_number < kMinimumPhoneVersion) {
    return kKorDeviceTooOld;
  }

  auto afc = KorDeviceHandles::Get().GetService(handle, &result, kKorAfcService, nullptr, true);
  if (!afc) return result != kKorDeviceOk ? result : kKorAfcUnavailable;
  AFCDictionaryRef entries = nullptr;
  if (MobileApi().AFCDeviceInfoOpen(afc->Afc(), &entries) != kAFCSuccess || !entries) return kKorAfcDeviceInfoFailed;
  for (;;) {
    char* key = nullptr;
    char* value = nullptr;
    if (MobileApi().AFCKeyValueRead(entries, &key, &value) != kAFCSuccess || !key) break;
    std::string name(key);
    if (name == "FSTotalBytes") info.fs_total_bytes = std::strtoll(value ? value : "0", nullptr, 10);
    if (name == "FSFreeBytes") info.fs_free_bytes = std::strtoll(value ? value : "0", nullptr, 10);
    if (name == "Model") info.model = value ? value : "";
  }
  MobileApi().AFCKeyValueClose(entries);
  device->SetInfo(info);
  return kKorDeviceOk;
}
