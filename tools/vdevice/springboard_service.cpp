// com.apple.springboardservices: getIconPNGData answers {"pngData": <PNG>} for an installed
// application, with the icon from springboardservices/icons/<bundle id>.png or the profile's
// default icon, and an empty dictionary for an unknown identifier. An armed error fault sends
// its value as the text of the pngData element, so hosts meet data that is not Base64.
#include <cctype>

#include "app_catalog.h"
#include "device_service.h"
#include "log.h"
#include "platform/kst_fs.h"
#include "plist_framing.h"

namespace vdevice {

namespace {

constexpr int64_t kMaxIconBytes = 4 << 20;

// Bundle identifiers become file names only when they cannot name another folder.
bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

bool ReadIcon(const std::string& path, std::string* png) {
  int64_t size = kst::FileSize(path);
  return size > 0 && size <= kMaxIconBytes && kst::ReadWholeFile(path, png);
}

class SpringboardService : public DeviceService {
 public:
  explicit SpringboardService(const VirtualDevice& device)
      : catalog_(device.profile().DataFolder("installation_proxy")),
        icons_(device.profile().DataFolder("springboardservices")) {}

  void Serve(ServiceContext& context) override {
    const std::string who = context.device.udid() + " springboardservices";
    PlistPtr request;
    while (ReadRequestDictionary(context.stream, who, &request)) {
      std::string command = DictString(request.get(), "command").value_or("");
      std::string id = DictString(request.get(), "bundleId").value_or("");
      LogDetail("%s: %s %s", who.c_str(), command.c_str(), id.c_str());
      if (std::optional<std::string> injected = context.stream.TakeInjectedError()) {
        if (!SendRawIconText(context.stream, *injected)) return;
        continue;
      }
      PlistPtr reply = MakeDict();
      std::string png;
      if (command == "getIconPNGData" && IconOf(id, &png)) SetData(reply.get(), "pngData", png);
      if (!SendFramedPlist(context.stream, LengthOrder::kBig, reply.get(), PlistEncoding::kBinary)) return;
    }
  }

 private:
  bool IconOf(const std::string& id, std::string* png) const {
    if (id.empty() || !catalog_.Find(id)) return false;
    if (IsPlainFileName(id) && ReadIcon(icons_ + "/icons/" + id + ".png", png)) return true;
    return ReadIcon(icons_ + "/default.png", png);
  }

  static bool SendRawIconText(ServiceStream& stream, const std::string& text) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n<key>pngData</key>\n<data>" +
        text + "</data>\n</dict>\n</plist>\n";
    uint8_t prefix[4] = {static_cast<uint8_t>(xml.size() >> 24), static_cast<uint8_t>(xml.size() >> 16),
                         static_cast<uint8_t>(xml.size() >> 8), static_cast<uint8_t>(xml.size())};
    return stream.Send({{prefix, sizeof(prefix)}, {xml.data(), xml.size()}});
  }

  AppCatalog catalog_;
  std::string icons_;
};

std::unique_ptr<DeviceService> MakeSpringboardService(const VirtualDevice& device) {
  return std::make_unique<SpringboardService>(device);
}

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.springboardservices", MakeSpringboardService);

}  // namespace vdevice
