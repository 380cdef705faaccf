// com.apple.mobile.notification_proxy: the host observes notification names and the device
// relays them ({"Command": "RelayNotification", "Name": ...}) when a service posts one;
// "PostNotification" from the host is relayed the same way; "Shutdown" ends with "ProxyDeath".
#include <mutex>
#include <set>

#include "device_service.h"
#include "log.h"
#include "notification_hub.h"
#include "plist_framing.h"

namespace vdevice {

namespace {

PlistPtr CommandMessage(const char* command, const std::string& name) {
  PlistPtr message = MakeDict();
  SetString(message.get(), "Command", command);
  if (!name.empty()) SetString(message.get(), "Name", name);
  return message;
}

class NotificationProxyService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    const std::string udid = context.device.udid();
    uint64_t token = NotificationHub::Subscribe(udid, [&](const std::string& name) { Relay(context, name); });
    PlistPtr request;
    while (ReadRequestDictionary(context.stream, udid + " notification_proxy", &request)) {
      std::string command = DictString(request.get(), "Command").value_or("");
      std::string name = DictString(request.get(), "Name").value_or("");
      LogDetail("%s notification_proxy: %s %s", udid.c_str(), command.c_str(), name.c_str());
      if (command == "ObserveNotification") {
        std::lock_guard<std::mutex> lock(mutex_);
        observed_.insert(name);
      } else if (command == "PostNotification") {
        NotificationHub::Post(udid, name);
      } else if (command == "Shutdown") {
        NotificationHub::Unsubscribe(token);
        std::lock_guard<std::mutex> lock(mutex_);
        SendFramedPlist(context.stream, LengthOrder::kBig, CommandMessage("ProxyDeath", "").get(), PlistEncoding::kXml);
        return;
      }
    }
    NotificationHub::Unsubscribe(token);
  }

 private:
  // Runs on the posting service's thread; the mutex keeps its frames whole.
  void Relay(ServiceContext& context, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!observed_.count(name)) return;
    SendFramedPlist(context.stream, LengthOrder::kBig, CommandMessage("RelayNotification", name).get(),
                    PlistEncoding::kXml);
  }

  std::mutex mutex_;
  std::set<std::string> observed_;
};

std::unique_ptr<DeviceService> MakeNotificationProxyService(const VirtualDevice&) {
  return std::make_unique<NotificationProxyService>();
}

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.mobile.notification_proxy", MakeNotificationProxyService);

}  // namespace vdevice
