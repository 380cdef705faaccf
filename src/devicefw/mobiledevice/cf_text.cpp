#include "mobiledevice/cf_text.h"

#include <vector>

#include "devicefw/devicefw_exports.h"

namespace devicefw::md {

std::optional<std::string> Utf8FromCfString(CFStringRef string) {
  if (string == nullptr || CFGetTypeID(string) != kCFTypeIDString) return std::nullopt;
  // One UTF-16 unit never needs more than three UTF-8 bytes.
  std::vector<char> buffer(static_cast<size_t>(CFStringGetLength(string)) * 3 + 1);
  if (!CFStringGetCString(string, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8)) {
    return std::nullopt;
  }
  return std::string(buffer.data());
}

}  // namespace devicefw::md
