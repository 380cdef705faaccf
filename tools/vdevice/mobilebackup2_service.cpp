// com.apple.mobilebackup2: the device greets with DLMessageVersionExchange (300, 0), accepts
// the computer's DLVersionsOk with whatever version it names, says DLMessageDeviceReady, answers
// Hello with the protocol version both support, then serves requests until the computer says
// DLMessageDisconnect or closes. Devices before iOS 5 lack the service.
#include <cstdlib>

#include "backup_conversation.h"
#include "log.h"

namespace vdevice {

namespace {

constexpr uint64_t kDeviceLinkMajor = 300;
constexpr uint64_t kDeviceLinkMinor = 0;
constexpr double kHighestProtocolVersion = 2.1;

bool ExchangeVersions(ServiceContext& context) {
  ServiceStream& stream = context.stream;
  if (!SendDeviceLink(stream, DeviceLinkMessage("DLMessageVersionExchange").Unsigned(kDeviceLinkMajor).Unsigned(kDeviceLinkMinor))) {
    return false;
  }
  HostMessage reply;
  if (ReadHostMessage(stream, &reply) != HostRead::kMessage) return false;
  plist_t verdict = plist_array_get_item(reply.array.get(), 1);
  char* text = nullptr;
  if (verdict && plist_get_node_type(verdict) == PLIST_STRING) plist_get_string_val(verdict, &text);
  std::string answer = text ? text : "";
  std::free(text);
  if (reply.name != "DLMessageVersionExchange" || answer != "DLVersionsOk") {
    LogLine("%s mobilebackup2: the computer did not accept the DeviceLink version (%s %s)", context.device.udid().c_str(),
            reply.name.c_str(), answer.c_str());
    return false;
  }
  uint64_t host_version = 0;
  plist_t version = plist_array_get_item(reply.array.get(), 2);
  if (version && plist_get_node_type(version) == PLIST_UINT) plist_get_uint_val(version, &host_version);
  LogDetail("%s mobilebackup2: the computer speaks DeviceLink %llu", context.device.udid().c_str(),
            static_cast<unsigned long long>(host_version));
  return SendDeviceLink(stream, DeviceLinkMessage("DLMessageDeviceReady"));
}

// The highest version of the computer's list that the device supports (0 when none is).
double CommonProtocolVersion(plist_t hello) {
  plist_t versions = DictItem(hello, "SupportedProtocolVersions", PLIST_ARRAY);
  double best = 0;
  for (uint32_t i = 0; versions && i < plist_array_get_size(versions); ++i) {
    plist_t item = plist_array_get_item(versions, i);
    double value = 0;
    if (plist_get_node_type(item) == PLIST_REAL) plist_get_real_val(item, &value);
    if (plist_get_node_type(item) == PLIST_UINT) {
      uint64_t whole = 0;
      plist_get_uint_val(item, &whole);
      value = static_cast<double>(whole);
    }
    if (value <= kHighestProtocolVersion && value > best) best = value;
  }
  return best;
}

bool AnswerHello(ServiceStream& stream, plist_t hello) {
  double version = CommonProtocolVersion(hello);
  PlistPtr response = MakeDict();
  SetString(response.get(), "MessageName", "Response");
  SetUnsigned(response.get(), "ErrorCode", version > 0 ? 0 : 1);
  if (version > 0) SetNode(response.get(), "ProtocolVersion", PlistPtr(plist_new_real(version)));
  return SendProcessMessage(stream, std::move(response));
}

// An armed error fault ends the next request with that device error code.
bool InjectedError(BackupConversation& conversation) {
  std::optional<std::string> injected = conversation.stream().TakeInjectedError();
  if (!injected) return false;
  uint64_t code = std::strtoull(injected->c_str(), nullptr, 10);
  if (conversation.Finish(code == 0 ? 1 : code, "Injected error " + *injected)) conversation.WaitForHostEnd(true);
  return true;
}

void Dispatch(BackupConversation& conversation, const std::string& name, plist_t request) {
  using Runner = void (*)(BackupConversation&, plist_t);
  static const std::pair<const char*, Runner> kRequests[] = {
      {"Backup", RunBackup}, {"Restore", RunRestore}, {"ChangePassword", RunChangePassword},
      {"Info", RunInfo},     {"EnableCloudBackup", RunEnableCloudBackup}};
  for (const auto& [request_name, run] : kRequests) {
    if (name != request_name) continue;
    LogLine("%s mobilebackup2: %s requested", conversation.udid().c_str(), name.c_str());
    if (!InjectedError(conversation)) run(conversation, request);
    return;
  }
  LogLine("%s mobilebackup2: unknown request \"%s\"", conversation.udid().c_str(), name.c_str());
  conversation.Finish(kBackupErrorUnknownRequest, "Unknown request " + name);
}

class MobileBackup2Service : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    if (!ExchangeVersions(context)) return;
    BackupConversation conversation(context);
    while (!context.stopping.load()) {
      HostMessage message;
      if (ReadHostMessage(context.stream, &message) != HostRead::kMessage || message.name == "DLMessageDisconnect") return;
      plist_t dict = ProcessMessageDict(message);
      std::string name = DictString(dict, "MessageName").value_or("");
      if (!dict || name.empty()) {
        LogLine("%s mobilebackup2: ignoring %s", context.device.udid().c_str(), message.name.c_str());
        continue;
      }
      if (name == "Hello") {
        if (!AnswerHello(context.stream, dict)) return;
        continue;
      }
      Dispatch(conversation, name, dict);
    }
  }
};

// The service came with iOS 5; older devices spoke the first backup protocol instead.
std::unique_ptr<DeviceService> MakeMobileBackup2Service(const VirtualDevice& device) {
  std::string version = device.StringValue("ProductVersion").value_or("99");
  if (std::strtol(version.c_str(), nullptr, 10) < 5) return nullptr;
  return std::make_unique<MobileBackup2Service>();
}

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.mobilebackup2", MakeMobileBackup2Service);

}  // namespace vdevice
