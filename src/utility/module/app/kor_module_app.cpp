#include "utility/module/app/kor_module_app.h"

#include "iOSAPI/kor_afc.h"
#include "iOSAPI/kor_service_message.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/kor_listing.h"
#include "utility/module/app/kor_app_record.h"
#include "utility/module/app/kor_installer_answer.h"
#include "utility/module/app/kor_installer_requests.h"
#include "utility/module/app/kor_ipa_metadata.h"

namespace {

constexpr size_t kRecordsPerMessage = 10;
constexpr const char* kPackageFolder = "general_storage";
// Longer identifiers are no application's; they are refused before anything is sent.
constexpr size_t kMaxRequestedIdLength = 1024;

// The command's parameters: a JSON array (of bundle identifiers or package paths).
bool ParseArrayParameters(const KorCommandPayload& payload, rapidjson::Document* document) {
  std::string text;
  return KorInflateAttachment(payload, &text) && VelJsonUtil::Parse(text, document) && document->IsArray();
}

std::shared_ptr<KorDeviceService> StartService(const std::shared_ptr<KorDevice>& device, const char* name) {
  int result = 0;
  auto service = KorDeviceHandles::Get().GetService(device->Device(), &result, name, nullptr, false);
  if (!service) KLOG(WARNING) << "cannot start " << name << ": " << result;
  return service;
}

std::string JsonObjectText(std::initializer_list<std::pair<const char*, std::string>> strings,
                           std::optional<std::pair<const char*, int64_t>> number = std::nullopt) {
  rapidjson::Document info(rapidjson::kObjectType);
  for (const auto& [key, value] : strings) VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), key, value);
  if (number) VelJsonUtil::AddJsonDictInt64Value(info, info.GetAllocator(), number->first, number->second);
  return VelJsonUtil::ToString(info);
}

}  // namespace

int KorModuleApp::OnCommand(kst::IPCPacket* packet) {
  return RunDeviceCommand(packet, [this, packet](const KorCommandPayload& payload, const DeviceCommand& command) -> int {
    const std::shared_ptr<KorDevice>& device = command.device;
    if (packet->command == kKorCommandListApps) return ListApps(packet, device);
    rapidjson::Document parameters;
    if (!ParseArrayParameters(payload, &parameters)) return kKorBadParameters;
    switch (packet->command) {
      case kKorCommandAppIcons:
        return SendIcons(packet, parameters, command.uuid, device);
      case kKorCommandInstallApps:
        return InstallPackages(packet, parameters, device);
      case kKorCommandUninstallApps:
        return RunForEachApp(packet, parameters, "Uninstall", device);
      case kKorCommandArchiveApps:
        return RunForEachApp(packet, parameters, "Archive", device);
      default:
        return kKorOk;
    }
  });
}


int KorModuleApp::ListApps(kst::IPCPacket* packet, const std::shared_ptr<KorDevice>& device) {
  auto service = StartService(device, kKorInstallerService);
  if (!service) return kKorNoAppService;
  KorServiceIo io = KorFrameworkIo(service->Connection());
  KorAppRecords records;
  KorRunInstallerExchange(io, KorBrowseRequestXml(KorBrowsePass::kRecords), [&](const KorInstallerAnswer& answer) {
    for (const KorValue& app : answer.current_list) records.AddRecord(app);
  });
  KorRunInstallerExchange(io, KorBrowseRequestXml(KorBrowsePass::kSizes), [&](const KorInstallerAnswer& answer) {
    for (const KorValue& app : answer.current_list) records.AddSizes(app);
  });
  KorListing listing(packet, device->UniqueDeviceId());
  listing.SetInfo(KorCountInfo(static_cast<int64_t>(records.Count())));
  if (int rc = listing.SendStage(kKorAppStageCount)) return rc;
  listing.SetInfo(std::nullopt);
  rapidjson::Document batch(rapidjson::kObjectType);
  for (auto it = records.Records().MemberBegin(); it != records.Records().MemberEnd(); ++it) {
    batch.AddMember(rapidjson::Value(it->name, batch.GetAllocator()), rapidjson::Value(it->value, batch.GetAllocator()),
                    batch.GetAllocator());
    if (batch.MemberCount() < kRecordsPerMessage) continue;
    if (int rc = listing.SendValue(kKorAppStageRecords, batch)) return rc;
    batch.SetObject();
  }
  if (batch.MemberCount() > 0) return listing.SendValue(kKorAppStageRecords, batch);
  return kKorOk;
}

int KorModuleApp::SendIcons(kst::IPCPacket* packet, const rapidjson::Value& ids, const std::string& uuid,
                            const std::shared_ptr<KorDevice>& device) {
  auto service = StartService(device, kKorIconService);
  if (!service) return kKorNoAppService;
  KorServiceIo io = KorFrameworkIo(service->Connection());
  for (const rapidjson::Value& id : ids.GetArray()) {
    if (IsStopped(packet)) return kKorStopped;
    if (!id.IsString() || id.GetStringLength() > kMaxRequestedIdLength) continue;
    KorMessageBufferPtr request = KorXmlToMessage(KorIconRequestXml(id.GetString()));
    if (!request) continue;
    std::string png;
    KorSendAndReceive(io, *request, [&](const uint8_t* bytes, uint32_t length, int*, int32_t*) {
      KorValue answer;
      if (KorMessageToValue(bytes, length, &answer) && !KorIconPngOfAnswer(answer, &png)) {
        KLOG(WARNING) << "no usable icon for " << id.GetString();
      }
    });
    if (png.empty()) continue;
    KorMessage message;
    message.uuid = uuid;
    message.info = JsonObjectText({{"bundle_id", id.GetString()}});
    message.attachment = reinterpret_cast<const uint8_t*>(png.data());
    message.attachment_length = png.size();
    SendIntermediate(packet, message);
  }
  return kKorOk;
}

void KorModuleApp::FollowInstaller(kst::IPCPacket* packet, const KorServiceIo& io, const std::string& request_xml,
                                   const std::string& bundle_id, const std::string& uuid) {
  KorRunInstallerExchange(io, request_xml, [&](const KorInstallerAnswer& answer) {
    KorMessage message;
    message.uuid = uuid;
    if (answer.percent) {
      message.stage = kKorAppStageProgress;
      message.info = JsonObjectText({{"bundle_id", bundle_id}}, std::make_pair("progress", *answer.percent));
      SendIntermediate(packet, message);
    }
    if (answer.error) {
      message.stage = kKorAppStageDeviceError;
      message.info = JsonObjectText({{"bundle_id", bundle_id}, {"error", *answer.error}});
      SendIntermediate(packet, message);
    }
  });
}

int KorModuleApp::InstallPackages(kst::IPCPacket* packet, const rapidjson::Value& paths,
                                  const std::shared_ptr<KorDevice>& device) {
  int result = 0;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  if (!afc) return kKorNoAfcService;
  std::string uuid = device->UniqueDeviceId();
  for (const rapidjson::Value& path : paths.GetArray()) {
    if (IsStopped(packet)) return kKorStopped;
    KorIpaMetadata metadata;
    if (!path.IsString() || !KorReadIpaMetadata(path.GetString(), &metadata)) continue;
    auto installer = StartService(device, kKorInstallerService);
    if (!installer) return kKorNoAppService;
    KorMessage message;
    message.stage = kKorAppStagePackage;
    message.uuid = uuid;
    message.info = JsonObjectText({{"path", path.GetString()},
                                   {"bundle_id", metadata.bundle_id},
                                   {"softwareIcon57x57URL", metadata.icon_url}});
    SendIntermediate(packet, message);
    std::string device_path = std::string(kPackageFolder) + "/" + metadata.bundle_id + ".ipa";
    KorAfcMakeDirectory(afc->Afc(), kPackageFolder);
    if (!KorAfcUpload(afc->Afc(), path.GetString(), device_path)) {
      KLOG(WARNING) << "package upload failed: " << path.GetString() << " to " << device_path;
      continue;
    }
    FollowInstaller(packet, KorFrameworkIo(installer->Connection()), KorUpgradeRequestXml(device_path),
                    metadata.bundle_id, uuid);
  }
  return kKorOk;
}

int KorModuleApp::RunForEachApp(kst::IPCPacket* packet, const rapidjson::Value& ids, const std::string& command,
                                const std::shared_ptr<KorDevice>& device) {
  std::string uuid = device->UniqueDeviceId();
  for (const rapidjson::Value& id : ids.GetArray()) {
    if (IsStopped(packet)) return kKorStopped;
    if (!id.IsString() || id.GetStringLength() == 0 || id.GetStringLength() > kMaxRequestedIdLength) {
      KLOG(WARNING) << command << ": skipped a bundle identifier that is not a string of 1 to "
                    << kMaxRequestedIdLength << " bytes";
      continue;
    }
    // A fresh connection per application: the device closes it after answering an error.
    auto installer = StartService(device, kKorInstallerService);
    if (!installer) return kKorNoAppService;
    FollowInstaller(packet, KorFrameworkIo(installer->Connection()), KorApplicationRequestXml(command, id.GetString()),
                    id.GetString(), uuid);
  }
  return kKorOk;
}
