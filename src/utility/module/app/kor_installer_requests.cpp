#include "utility/module/app/kor_installer_requests.h"

#include "iOSAPI/kor_plist_xml.h"

namespace {

std::string Request(const std::vector<std::pair<std::string, std::string>>& entries) {
  return KorPlistDocument(KorPlistDict(entries), KorPlistDoctype::kApple);
}

std::string StringArray(std::initializer_list<const char*> names) {
  std::vector<std::string> elements;
  for (const char* name : names) elements.push_back(KorPlistString(name));
  return KorPlistArray(elements);
}

}  // namespace

std::string KorBrowseRequestXml(KorBrowsePass pass) {
  std::string attributes =
      pass == KorBrowsePass::kRecords
          ? StringArray({"CFBundleIdentifier", "ApplicationType", "iTunesMetadata", "ApplicationSINF",
                         "CFBundleVersion", "CFBundleShortVersionString", "Path", "CFBundleDisplayName",
                         "CFBundleName"})
          : StringArray({"CFBundleIdentifier", "DynamicDiskUsage", "StaticDiskUsage"});
  std::string options =
      KorPlistDict({{"ApplicationType", KorPlistString("User")}, {"ReturnAttributes", attributes}});
  return Request({{"ClientOptions", options}, {"Command", KorPlistString("Browse")}});
}

std::string KorApplicationRequestXml(const std::string& command, const std::string& bundle_id) {
  return Request({{"ApplicationIdentifier", KorPlistString(bundle_id)}, {"Command", KorPlistString(command)}});
}

std::string KorUpgradeRequestXml(const std::string& package_path) {
  return Request({{"PackagePath", KorPlistString(package_path)}, {"Command", KorPlistString("Upgrade")}});
}

std::string KorIconRequestXml(const std::string& bundle_id) {
  return Request({{"bundleId", KorPlistString(bundle_id)}, {"command", KorPlistString("getIconPNGData")}});
}
