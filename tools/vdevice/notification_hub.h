// Device-wide notifications ("com.apple.mobile.application_installed", ...): services post
// them, and the notification_proxy connections that observe a name relay them to their host.
#pragma once

#include <functional>
#include <string>

namespace vdevice {

class NotificationHub {
 public:
  using Listener = std::function<void(const std::string& name)>;

  // Delivers `name` to every listener of the device, on the posting thread.
  static void Post(const std::string& udid, const std::string& name);
  // Returns a token for Unsubscribe.
  static uint64_t Subscribe(const std::string& udid, Listener listener);
  static void Unsubscribe(uint64_t token);
};

inline constexpr const char* kAppInstalledNotification = "com.apple.mobile.application_installed";
inline constexpr const char* kAppUninstalledNotification = "com.apple.mobile.application_uninstalled";

}  // namespace vdevice
