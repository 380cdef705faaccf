// com.apple.mobile.installation_proxy: Browse and Lookup of the profile's applications, Install
// and Upgrade of a package placed in the AFC tree, Uninstall, Archive and LookupArchives.
// Long operations answer with status messages carrying "PercentComplete" and end with
// {"Status": "Complete"}; a failure answers {"Error", "ErrorDescription"} and closes the
// connection. Systems from iOS 9 on no longer archive: they answer UnknownCommand.
#include <algorithm>
#include <cstdlib>

#include "afc_path.h"
#include "app_catalog.h"
#include "device_service.h"
#include "ipa_package.h"
#include "log.h"
#include "notification_hub.h"
#include "plist_framing.h"
#include "random_id.h"

namespace vdevice {

namespace {

// Applications per Browse message, as a device splits long lists.
constexpr uint32_t kBrowseBatch = 7;
// A freshly installed application's data container.
constexpr uint64_t kNewContainerBytes = 24576;
constexpr int kFirstSystemWithoutArchive = 9;

struct Step {
  const char* status;
  uint64_t percent;
};

constexpr Step kInstallSteps[] = {
    {"CreatingStagingDirectory", 5}, {"ExtractingPackage", 15},   {"InspectingPackage", 20},
    {"PreflightingApplication", 30}, {"VerifyingApplication", 40}, {"CreatingContainer", 50},
    {"InstallingApplication", 60},   {"PostflightingApplication", 70}, {"SandboxingApplication", 80},
    {"GeneratingApplicationMap", 90}};
constexpr Step kUninstallSteps[] = {{"RemovingApplication", 50}, {"GeneratingApplicationMap", 90}};
constexpr Step kArchiveSteps[] = {{"ArchivingApplication", 40}, {"ArchivingApplication", 80}};

bool SendMessage(ServiceStream& stream, plist_t message) {
  return SendFramedPlist(stream, LengthOrder::kBig, message, PlistEncoding::kXml);
}

bool SendStatus(ServiceStream& stream, const std::string& status, std::optional<uint64_t> percent = std::nullopt) {
  PlistPtr message = MakeDict();
  if (percent) SetUnsigned(message.get(), "PercentComplete", *percent);
  SetString(message.get(), "Status", status);
  return SendMessage(stream, message.get());
}

bool SendSteps(ServiceStream& stream, const Step* steps, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!SendStatus(stream, steps[i].status, steps[i].percent)) return false;
  }
  return true;
}

// Only the attributes asked for, when the host asked (CFBundleIdentifier is always kept).
PlistPtr WithAttributes(plist_t record, plist_t attributes) {
  if (!attributes) return Copy(record);
  PlistPtr reduced = MakeDict();
  for (uint32_t i = 0; i < plist_array_get_size(attributes); ++i) {
    plist_t key = plist_array_get_item(attributes, i);
    if (plist_get_node_type(key) != PLIST_STRING) continue;
    char* name = nullptr;
    plist_get_string_val(key, &name);
    std::string text(name ? name : "");
    std::free(name);
    plist_t value = plist_dict_get_item(record, text.c_str());
    if (value) SetNode(reduced.get(), text.c_str(), Copy(value));
  }
  if (std::optional<std::string> id = BundleIdOf(record)) SetString(reduced.get(), "CFBundleIdentifier", *id);
  return reduced;
}

bool MatchesType(plist_t record, const std::string& wanted) {
  if (wanted.empty() || wanted == "Any") return true;
  return DictString(record, "ApplicationType").value_or("User") == wanted;
}

std::string InfoString(plist_t info, plist_t metadata, const char* info_key, const char* metadata_key,
                       const std::string& fallback) {
  if (std::optional<std::string> value = DictString(info, info_key)) return *value;
  if (std::optional<std::string> value = DictString(metadata, metadata_key)) return *value;
  return fallback;
}

class InstallationProxyService : public DeviceService {
 public:
  explicit InstallationProxyService(const VirtualDevice& device)
      : catalog_(device.profile().DataFolder("installation_proxy")),
        afc_root_(device.profile().AfcRoot("afc")),
        archives_supported_(std::atoi(device.StringValue("ProductVersion").value_or("16").c_str()) <
                            kFirstSystemWithoutArchive) {}

  void Serve(ServiceContext& context) override {
    const std::string who = context.device.udid() + " installation_proxy";
    PlistPtr request;
    while (ReadRequestDictionary(context.stream, who, &request)) {
      std::string command = DictString(request.get(), "Command").value_or("");
      LogDetail("%s: %s", who.c_str(), command.c_str());
      if (std::optional<std::string> injected = context.stream.TakeInjectedError()) {
        SendError(context.stream, *injected, "injected fault");
        return;
      }
      // A host that hung up may have queued further requests; they are still carried out.
      if (!Answer(context, command, request.get()) && error_answered_) return;
    }
  }

 private:
  // False when the connection is to end (an error was answered or the host is gone).
  bool Answer(ServiceContext& context, const std::string& command, plist_t request) {
    plist_t options = DictItem(request, "ClientOptions", PLIST_DICT);
    if (command == "Browse") return Browse(context.stream, options);
    if (command == "Lookup") return Lookup(context.stream, options);
    if (command == "Install" || command == "Upgrade") return Install(context, request, options);
    if (command == "Uninstall") return Uninstall(context, request);
    if (command == "Archive" && archives_supported_) return Archive(context, request, options);
    if (command == "LookupArchives" && archives_supported_) return LookupArchives(context.stream);
    return SendError(context.stream, "UnknownCommand", "Unknown command " + command);
  }

  bool SendError(ServiceStream& stream, const std::string& error, const std::string& description) {
    LogLine("installation_proxy: %s (%s)", error.c_str(), description.c_str());
    PlistPtr message = MakeDict();
    SetString(message.get(), "Error", error);
    SetString(message.get(), "ErrorDescription", description);
    SendMessage(stream, message.get());
    error_answered_ = true;
    return false;
  }

  bool Browse(ServiceStream& stream, plist_t options) {
    std::string type = DictString(options, "ApplicationType").value_or("");
    plist_t attributes = DictItem(options, "ReturnAttributes", PLIST_ARRAY);
    std::vector<PlistPtr> matching;
    for (PlistPtr& record : catalog_.Records()) {
      if (MatchesType(record.get(), type)) matching.push_back(WithAttributes(record.get(), attributes));
    }
    const uint32_t total = static_cast<uint32_t>(matching.size());
    for (uint32_t index = 0; index < total; index += kBrowseBatch) {
      uint32_t amount = std::min(kBrowseBatch, total - index);
      PlistPtr message = MakeDict();
      PlistPtr list(plist_new_array());
      for (uint32_t i = index; i < index + amount; ++i) plist_array_append_item(list.get(), matching[i].release());
      SetUnsigned(message.get(), "CurrentAmount", amount);
      SetUnsigned(message.get(), "CurrentIndex", index);
      SetNode(message.get(), "CurrentList", std::move(list));
      SetString(message.get(), "Status", "BrowsingApplications");
      SetUnsigned(message.get(), "Total", total);
      if (!SendMessage(stream, message.get())) return false;
    }
    return SendStatus(stream, "Complete");
  }

  bool Lookup(ServiceStream& stream, plist_t options) {
    plist_t ids = DictItem(options, "BundleIDs", PLIST_ARRAY);
    plist_t attributes = DictItem(options, "ReturnAttributes", PLIST_ARRAY);
    std::string type = DictString(options, "ApplicationType").value_or("");
    PlistPtr result = MakeDict();
    for (PlistPtr& record : catalog_.Records()) {
      std::string id = BundleIdOf(record.get()).value_or("");
      bool named = !ids;
      for (uint32_t i = 0; ids && i < plist_array_get_size(ids) && !named; ++i) {
        char* text = nullptr;
        plist_t item = plist_array_get_item(ids, i);
        if (plist_get_node_type(item) == PLIST_STRING) plist_get_string_val(item, &text);
        named = text && id == text;
        std::free(text);
      }
      if (named && MatchesType(record.get(), type)) {
        SetNode(result.get(), id.c_str(), WithAttributes(record.get(), attributes));
      }
    }
    PlistPtr message = MakeDict();
    SetNode(message.get(), "LookupResult", std::move(result));
    SetString(message.get(), "Status", "Complete");
    return SendMessage(stream, message.get());
  }

  bool Install(ServiceContext& context, plist_t request, plist_t options) {
    std::string package_path = DictString(request, "PackagePath").value_or("");
    std::string host_path;
    if (package_path.empty() || afc_root_.empty() ||
        AfcPathMapper(afc_root_).Map(package_path, FinalLink::kFollow, &host_path) != 0) {
      return SendError(context.stream, "PackageExtractionFailed", "Invalid package path " + package_path);
    }
    IpaPackage package;
    std::string error;
    if (!ReadIpaPackage(host_path, &package, &error)) {
      return SendError(context.stream, "PackageExtractionFailed", package_path + ": " + error);
    }
    std::optional<std::string> metadata = DictData(options, "iTunesMetadata");
    if (metadata && !package.metadata_plist) {
      package.metadata = *metadata;
      package.metadata_plist = ParsePlist(metadata->data(), metadata->size());
    }
    PlistPtr record = RecordOf(package, DictString(options, "CFBundleIdentifier").value_or(""));
    if (!record) return SendError(context.stream, "PackageInspectionFailed", "No bundle identifier in " + package_path);
    std::string id = *BundleIdOf(record.get());
    // The work is done before it is reported: a host that hangs up early does not stop it.
    if (!catalog_.Put(std::move(record))) return SendError(context.stream, "APIInternalError", "cannot record " + id);
    if (!SendSteps(context.stream, kInstallSteps, std::size(kInstallSteps))) return false;
    LogLine("%s installation_proxy: installed %s", context.device.udid().c_str(), id.c_str());
    NotificationHub::Post(context.device.udid(), kAppInstalledNotification);
    return SendStatus(context.stream, "Complete");
  }

  // A realistic record of a newly installed application; null without a bundle identifier.
  static PlistPtr RecordOf(const IpaPackage& package, const std::string& requested_id) {
    plist_t info = package.info.get();
    plist_t metadata = package.metadata_plist.get();
    std::string id = InfoString(info, metadata, "CFBundleIdentifier", "softwareVersionBundleId", requested_id);
    if (id.empty()) return nullptr;
    std::string folder_name = package.app_folder.empty() ? id + ".app" : package.app_folder.substr(8);
    std::string name = InfoString(info, metadata, "CFBundleName", "itemName", folder_name.substr(0, folder_name.size() - 4));
    PlistPtr record = MakeDict();
    SetString(record.get(), "ApplicationType", "User");
    SetString(record.get(), "CFBundleIdentifier", id);
    SetString(record.get(), "CFBundleName", name);
    SetString(record.get(), "CFBundleDisplayName", InfoString(info, metadata, "CFBundleDisplayName", "bundleDisplayName", name));
    SetString(record.get(), "CFBundleExecutable", InfoString(info, nullptr, "CFBundleExecutable", "", name));
    SetString(record.get(), "CFBundleVersion", InfoString(info, metadata, "CFBundleVersion", "bundleVersion", "1"));
    SetString(record.get(), "CFBundleShortVersionString",
              InfoString(info, metadata, "CFBundleShortVersionString", "bundleShortVersionString", "1.0"));
    SetString(record.get(), "Path", "/private/var/containers/Bundle/Application/" + RandomUuid() + "/" + folder_name);
    SetString(record.get(), "Container", "/private/var/mobile/Containers/Data/Application/" + RandomUuid());
    SetString(record.get(), "SignerIdentity", "Apple iPhone OS Application Signing");
    SetUnsigned(record.get(), "StaticDiskUsage", package.unpacked_bytes);
    SetUnsigned(record.get(), "DynamicDiskUsage", kNewContainerBytes);
    if (!package.metadata.empty()) SetData(record.get(), "iTunesMetadata", package.metadata);
    return record;
  }

  bool Uninstall(ServiceContext& context, plist_t request) {
    std::string id = DictString(request, "ApplicationIdentifier").value_or("");
    PlistPtr record = catalog_.Find(id);
    if (!record || DictString(record.get(), "ApplicationType").value_or("User") != "User") {
      return SendError(context.stream, "APIInternalError", "Could not find application " + id);
    }
    catalog_.Remove(id);
    LogLine("%s installation_proxy: uninstalled %s", context.device.udid().c_str(), id.c_str());
    NotificationHub::Post(context.device.udid(), kAppUninstalledNotification);
    if (!SendSteps(context.stream, kUninstallSteps, std::size(kUninstallSteps))) return false;
    return SendStatus(context.stream, "Complete");
  }

  bool Archive(ServiceContext& context, plist_t request, plist_t options) {
    std::string id = DictString(request, "ApplicationIdentifier").value_or("");
    PlistPtr record = catalog_.Find(id);
    if (!record) return SendError(context.stream, "APIInternalError", "Could not find application " + id);
    if (!SendSteps(context.stream, kArchiveSteps, std::size(kArchiveSteps))) return false;
    catalog_.PutArchive(Copy(record.get()));
    if (!DictBool(options, "SkipUninstall").value_or(false)) {
      catalog_.Remove(id);
      NotificationHub::Post(context.device.udid(), kAppUninstalledNotification);
    }
    LogLine("%s installation_proxy: archived %s", context.device.udid().c_str(), id.c_str());
    return SendStatus(context.stream, "Complete");
  }

  bool LookupArchives(ServiceStream& stream) {
    PlistPtr result = MakeDict();
    for (PlistPtr& record : catalog_.Archives()) {
      std::string id = BundleIdOf(record.get()).value_or("");
      SetNode(result.get(), id.c_str(), std::move(record));
    }
    PlistPtr message = MakeDict();
    SetNode(message.get(), "LookupResult", std::move(result));
    SetString(message.get(), "Status", "Complete");
    return SendMessage(stream, message.get());
  }

  AppCatalog catalog_;
  std::string afc_root_;
  bool archives_supported_;
  bool error_answered_ = false;
};

std::unique_ptr<DeviceService> MakeInstallationProxyService(const VirtualDevice& device) {
  return std::make_unique<InstallationProxyService>(device);
}

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.mobile.installation_proxy", MakeInstallationProxyService);

}  // namespace vdevice
