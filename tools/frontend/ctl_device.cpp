#include "ctl_device.h"

#include <iostream>

#include "platform/vel_json_util.h"

namespace ctl {

std::optional<ChosenDevice> WaitForDevice(Session& session, const std::string& udid,
                                          std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    auto ready = session.link.WaitFor(1, left);
    if (!ready) break;
    if (udid.empty() || ready->uuid == udid) return ChosenDevice{ready->uuid, ready->code};
  }
  std::cerr << "tandrelctl: " << (udid.empty() ? std::string("no device") : "device " + udid)
            << " became ready in time\n";
  return std::nullopt;
}

std::string DeviceJson(const ChosenDevice& device, const std::string& extra) {
  rapidjson::Document json(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(json, json.GetAllocator(), "uuid", device.udid);
  VelJsonUtil::AddJsonDictInt64Value(json, json.GetAllocator(), "code", device.code);
  std::string text = VelJsonUtil::ToString(json);
  if (extra.empty()) return text;
  text.pop_back();
  return text + "," + extra + "}";
}

}  // namespace ctl
