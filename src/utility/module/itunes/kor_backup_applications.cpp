#include "utility/module/itunes/kor_backup_applications.h"

#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_service_message.h"
#include "platform/kst_log.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"

namespace {

constexpr const char* kInstallationService = "com.apple.mobile.installation_proxy";
constexpr const char* kSpringboardService = "com.apple.springboardservices";

struct KorInstalledApp {
  std::string bundle_id;
  std::string sinf;      // base64 text as the device sent it; empty when absent
  std::string metadata;  // base64 text
};

std::string TextOf(const std::shared_ptr<CIOSDictionary>& dict, const char* key) {
  KorValue value = dict->Get(key);
  return value.IsString() ? value.AsString() : std::string();
}

// Browses the user applications; the device answers in batches until "Status" is "Complete".
std::vector<KorInstalledApp> BrowseApplications(const std::shared_ptr<KorDevice>& device) {
  std::vector<KorInstalledApp> apps;
  int result = 0;
  auto service = KorDeviceHandles::Get().GetService(device->Device(), &result, kInstallationService, nullptr, false);
  if (!service) return apps;
  const std::string attributes = KorPlistArray(
      {KorPlistString("CFBundleIdentifier"), KorPlistString("ApplicationSINF"), KorPlistString("iTunesMetadata")});
  KorMessageBufferPtr request = KorXmlToMessage(KorPlistDocument(
      KorPlistDict({{"Command", KorPlistString("Browse")},
                    {"ClientOptions", KorPlistDict({{"ApplicationType", KorPlistString("User")},
                                                    {"ReturnAttributes", attributes}})}}),
      KorPlistDoctype::kApple));
  if (!request) return apps;
  KorSendAndReceive(KorFrameworkIo(service->Connection()), *request,
                    [&apps](const uint8_t* bytes, uint32_t length, int* continue_flag, int32_t*) {
                      KorValue reply;
                      if (!KorMessageToValue(bytes, length, &reply) || !reply.IsDictionary()) return;
                      KorValue list = reply.AsDictionary()->Get("CurrentList");
                      if (list.IsArray()) {
                        for (const KorValue& item : list.AsArray()) {
                          if (!item.IsDictionary()) continue;
                          KorInstalledApp app{TextOf(item.AsDictionary(), "CFBundleIdentifier"),
                                              TextOf(item.AsDictionary(), "ApplicationSINF"),
                                              TextOf(item.AsDictionary(), "iTunesMetadata")};
                          if (!app.bundle_id.empty()) apps.push_back(std::move(app));
                        }
                      }
                      const std::string status = TextOf(reply.AsDictionary(), "Status");
                      *continue_flag = status != "Complete" && !reply.AsDictionary()->Has("Error");
                    });
  return apps;
}

// The icon's PNG as base64 text, or empty.
std::string IconOf(const KorServiceIo& springboard, const std::string& bundle_id) {
  KorMessageBufferPtr request = KorXmlToMessage(KorPlistDocument(
      KorPlistDict({{"command", KorPlistString("getIconPNGData")}, {"bundleId", KorPlistString(bundle_id)}}),
      KorPlistDoctype::kApple));
  std::string png;
  if (!request) return png;
  KorSendAndReceive(springboard, *request, [&png](const uint8_t* bytes, uint32_t length, int*, int32_t*) {
    KorValue reply;
    if (KorMessageToValue(bytes, length, &reply) && reply.IsDictionary()) png = TextOf(reply.AsDictionary(), "pngData");
  });
  return png;
}

std::string DataElement(const std::string& base64) { return "<data>" + base64 + "</data>"; }

}  // namespace

std::vector<std::pair<std::string, std::string>> KorBackupApplicationEntries(const std::shared_ptr<KorDevice>& device) {
  std::vector<KorInstalledApp> apps = BrowseApplications(device);
  if (apps.empty()) return {};
  int result = 0;
  auto springboard = KorDeviceHandles::Get().GetService(device->Device(), &result, kSpringboardService, nullptr, false);
  std::vector<std::pair<std::string, std::string>> per_app;
  std::vector<std::string> installed;
  for (const KorInstalledApp& app : apps) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (!app.sinf.empty()) fields.emplace_back("ApplicationSINF", DataElement(app.sinf));
    if (!app.metadata.empty()) fields.emplace_back("iTunesMetadata", DataElement(app.metadata));
    const std::string icon = springboard ? IconOf(KorFrameworkIo(springboard->Connection()), app.bundle_id) : "";
    if (!icon.empty()) fields.emplace_back("PlaceholderIcon", DataElement(icon));
    per_app.emplace_back(app.bundle_id, KorPlistDict(fields));
    installed.push_back(KorPlistString(app.bundle_id));
  }
  KLOG(INFO) << "Info.plist lists " << apps.size() << " applications";
  return {{"Applications", KorPlistDict(per_app)}, {"Installed Applications", KorPlistArray(installed)}};
}
