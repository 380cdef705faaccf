// com.apple.mobile.diagnostics_relay: IORegistry entries from the profile's
// diagnostics_relay/ioregistry.json (keyed by entry class or name), MobileGestalt answers from
// the lockdown values, and the power requests, which are only acknowledged.
#include "device_service.h"
#include "log.h"
#include "plist_framing.h"

namespace vdevice {

namespace {

PlistPtr StatusReply(const std::string& status) {
  PlistPtr reply = MakeDict();
  SetString(reply.get(), "Status", status);
  return reply;
}

PlistPtr DiagnosticsReply(const char* section, PlistPtr content) {
  PlistPtr diagnostics = MakeDict();
  SetNode(diagnostics.get(), section, std::move(content));
  PlistPtr reply = StatusReply("Success");
  SetNode(reply.get(), "Diagnostics", std::move(diagnostics));
  return reply;
}

class DiagnosticsRelayService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    PlistPtr request;
    while (ReadRequestDictionary(context.stream, context.device.udid() + " diagnostics_relay", &request)) {
      std::string name = DictString(request.get(), "Request").value_or("");
      PlistPtr reply = Answer(context, name, request.get());
      if (!SendFramedPlist(context.stream, LengthOrder::kBig, reply.get(), PlistEncoding::kXml) || name == "Goodbye") {
        return;
      }
    }
  }

 private:
  PlistPtr Answer(ServiceContext& context, const std::string& name, plist_t request) {
    if (std::optional<std::string> injected = context.stream.TakeInjectedError()) return StatusReply(*injected);
    LogDetail("%s diagnostics_relay: %s", context.device.udid().c_str(), name.c_str());
    if (name == "IORegistry") return IoRegistry(context.device, request);
    if (name == "MobileGestalt") return MobileGestalt(context.device, request);
    if (name == "Goodbye" || name == "Sleep" || name == "Restart" || name == "Shutdown") return StatusReply("Success");
    LogLine("%s diagnostics_relay: unknown request \"%s\"", context.device.udid().c_str(), name.c_str());
    return StatusReply("UnknownRequest");
  }

  static PlistPtr IoRegistry(const VirtualDevice& device, plist_t request) {
    std::string error;
    PlistPtr entries = LoadJsonAsPlist(device.profile().DataFolder("diagnostics_relay") + "/ioregistry.json", &error);
    if (!entries) LogLine("%s diagnostics_relay: %s", device.udid().c_str(), error.c_str());
    for (const char* selector : {"EntryClass", "EntryName"}) {
      std::string wanted = DictString(request, selector).value_or("");
      plist_t entry = wanted.empty() ? nullptr : DictItem(entries.get(), wanted.c_str(), PLIST_DICT);
      if (entry) return DiagnosticsReply("IORegistry", Copy(entry));
    }
    return StatusReply("Failure");
  }

  static PlistPtr MobileGestalt(const VirtualDevice& device, plist_t request) {
    plist_t keys = DictItem(request, "MobileGestaltKeys", PLIST_ARRAY);
    if (!keys) return StatusReply("Failure");
    PlistPtr answers = MakeDict();
    for (uint32_t i = 0; i < plist_array_get_size(keys); ++i) {
      plist_t key = plist_array_get_item(keys, i);
      if (plist_get_node_type(key) != PLIST_STRING) continue;
      char* text = nullptr;
      plist_get_string_val(key, &text);
      std::string name(text ? text : "");
      std::free(text);
      if (PlistPtr value = device.GetValue(kDefaultDomain, name)) SetNode(answers.get(), name.c_str(), std::move(value));
    }
    SetString(answers.get(), "Status", "MobileGestaltSuccess");
    return DiagnosticsReply("MobileGestalt", std::move(answers));
  }
};

std::unique_ptr<DeviceService> MakeDiagnosticsRelayService(const VirtualDevice&) {
  return std::make_unique<DiagnosticsRelayService>();
}

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.mobile.diagnostics_relay", MakeDiagnosticsRelayService);

}  // namespace vdevice
