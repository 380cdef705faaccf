// com.apple.atc: plays the conversation in the profile's atc/script.json. Its frames carry a
// 4-byte little-endian length and a binary property list. Script steps, in order:
//   {"expect": "Command"}   read a host message whose "Command" is this ("*": any)
//   {"send": {...}}         send this message (plist JSON notation, key order kept)
//   {"wait_ms": N}          pause
//   {"end": "empty"|"close"} send a zero-length frame and close, or just close
// An armed error fault replaces the next sent message by {"Command": VALUE}.
#include <algorithm>

#include "device_service.h"
#include "log.h"
#include "plist_framing.h"

namespace vdevice {

namespace {

constexpr uint64_t kMaxWaitMs = 60000;

class AtcService : public DeviceService {
 public:
  void Serve(ServiceContext& context) override {
    std::string error;
    PlistPtr script = LoadJsonAsPlist(context.device.profile().DataFolder("atc") + "/script.json", &error);
    plist_t steps = DictItem(script.get(), "steps", PLIST_ARRAY);
    if (!steps) {
      LogLine("%s atc: no usable script (%s); closing", context.device.udid().c_str(),
              error.empty() ? "\"steps\" must be an array" : error.c_str());
      return;
    }
    for (uint32_t i = 0; i < plist_array_get_size(steps); ++i) {
      if (!RunStep(context, plist_array_get_item(steps, i), i)) return;
    }
  }

 private:
  // False when the conversation is over (ended by the script, the host, or a mismatch).
  bool RunStep(ServiceContext& context, plist_t step, uint32_t index) {
    if (std::optional<std::string> command = DictString(step, "expect")) return Expect(context, *command);
    if (plist_t message = DictItem(step, "send", PLIST_DICT)) return Send(context, message);
    if (std::optional<uint64_t> wait = DictUnsigned(step, "wait_ms")) {
      SleepUnlessStopping(std::min(*wait, kMaxWaitMs), &context.stopping);
      return true;
    }
    if (std::optional<std::string> end = DictString(step, "end")) {
      if (*end == "empty") SendEmptyFrame(context.stream, LengthOrder::kLittle);
      return false;
    }
    LogLine("%s atc: script step %u is not understood; closing", context.device.udid().c_str(), index);
    return false;
  }

  static bool Expect(ServiceContext& context, const std::string& command) {
    PlistPtr message;
    std::string error;
    FrameStatus status = ReadFramedPlist(context.stream, LengthOrder::kLittle, &message, &error);
    if (status == FrameStatus::kClosed) return false;
    if (status != FrameStatus::kMessage) {
      LogLine("%s atc: expected %s, got %s", context.device.udid().c_str(), command.c_str(),
              status == FrameStatus::kEmpty ? "an empty frame" : error.c_str());
      return false;
    }
    std::string got = DictString(message.get(), "Command").value_or("");
    if (command != "*" && got != command) {
      LogLine("%s atc: expected %s, got \"%s\"; closing", context.device.udid().c_str(), command.c_str(), got.c_str());
      return false;
    }
    LogDetail("%s atc: received %s", context.device.udid().c_str(), got.c_str());
    return true;
  }

  static bool Send(ServiceContext& context, plist_t message) {
    if (std::optional<std::string> injected = context.stream.TakeInjectedError()) {
      PlistPtr replacement = MakeDict();
      SetString(replacement.get(), "Command", *injected);
      return SendFramedPlist(context.stream, LengthOrder::kLittle, replacement.get(), PlistEncoding::kBinary);
    }
    return SendFramedPlist(context.stream, LengthOrder::kLittle, message, PlistEncoding::kBinary);
  }
};

std::unique_ptr<DeviceService> MakeAtcService(const VirtualDevice&) { return std::make_unique<AtcService>(); }

}  // namespace

VDEVICE_REGISTER_SERVICE("com.apple.atc", MakeAtcService);

}  // namespace vdevice
