#include "control_commands.h"

#include <functional>
#include <map>

#include "log.h"

namespace vdevice {

namespace {

using Args = std::vector<std::string>;

int Fail(std::string* message, const std::string& text) {
  *message = text;
  return 1;
}

int Attach(DeviceRegistry& registry, const Args& args, std::string* message) {
  if (args.size() != 2) return Fail(message, "usage: attach DIR");
  DeviceProfile profile;
  std::string error;
  if (LoadProfile(args[1], &profile, &error) != 0) return Fail(message, error);
  std::string udid = profile.udid;
  if (registry.Attach(std::move(profile), &error) != 0) return Fail(message, error);
  *message = "attached " + udid;
  return 0;
}

int Detach(DeviceRegistry& registry, const Args& args, std::string* message) {
  if (args.size() != 2) return Fail(message, "usage: detach UDID");
  if (!registry.Detach(args[1])) return Fail(message, "no attached device " + args[1]);
  *message = "detached " + args[1];
  return 0;
}

// Runs `change` on the device named by args[1], after checking the argument count.
int WithDevice(DeviceRegistry& registry, const Args& args, size_t count, const char* usage, std::string* message,
               const std::function<int(VirtualDevice&)>& change) {
  if (args.size() < count) return Fail(message, std::string("usage: ") + usage);
  std::shared_ptr<VirtualDevice> device = registry.FindByUdid(args[1]);
  if (!device) return Fail(message, "no attached device " + args[1]);
  return change(*device);
}

int Trust(DeviceRegistry& registry, const Args& args, std::string* message) {
  return WithDevice(registry, args, 3, "trust UDID on|off|deny", message, [&](VirtualDevice& device) {
    std::optional<TrustState> state = ParseTrustState(args[2]);
    if (!state || args.size() != 3) return Fail(message, "usage: trust UDID on|off|deny");
    device.SetTrust(*state);
    *message = device.udid() + " trust " + args[2];
    if (*state == TrustState::kOn && registry.CompletePendingPairing(device)) *message += "; waiting pairing completed";
    return 0;
  });
}

int Lock(DeviceRegistry& registry, const Args& args, std::string* message) {
  return WithDevice(registry, args, 3, "lock UDID on|off", message, [&](VirtualDevice& device) {
    if (args.size() != 3 || (args[2] != "on" && args[2] != "off")) return Fail(message, "usage: lock UDID on|off");
    device.SetLocked(args[2] == "on");
    *message = device.udid() + " lock " + args[2];
    return 0;
  });
}

int EnterPasscode(DeviceRegistry& registry, const Args& args, std::string* message) {
  return WithDevice(registry, args, 2, "passcode UDID", message, [&](VirtualDevice& device) {
    if (args.size() != 2) return Fail(message, "usage: passcode UDID");
    device.EnterPasscode();
    *message = device.udid() + " passcode entered";
    return 0;
  });
}

int ArmFault(DeviceRegistry& registry, const Args& args, std::string* message) {
  return WithDevice(registry, args, 4, "fault UDID SERVICE KIND ARGS", message, [&](VirtualDevice& device) {
    const std::string& service = args[2];
    if (args[3] == "clear" && args.size() == 4) {
      device.faults().Clear(service);
      *message = "faults of " + service + " cleared";
      return 0;
    }
    Fault fault;
    std::string error;
    if (!ParseFault(Args(args.begin() + 3, args.end()), &fault, &error)) return Fail(message, error);
    device.faults().Arm(service, fault);
    *message = "fault armed on " + device.udid() + " " + service;
    return 0;
  });
}

int List(DeviceRegistry& registry, const Args& args, std::string* message) {
  if (args.size() != 1) return Fail(message, "usage: list");
  message->clear();
  for (const auto& device : registry.Devices()) {
    *message += device->udid() + " id=" + std::to_string(device->device_id()) +
                (device->profile().connection == ConnectionKind::kUsb ? " USB" : " Network") +
                " trust=" + TrustStateName(device->trust()) + " lock=" + (device->locked() ? "on" : "off") +
                " pairings=" + std::to_string(device->pairings().Count()) + "\n";
  }
  return 0;
}

}  // namespace

int RunControlCommand(DeviceRegistry& registry, const Args& args, std::string* message) {
  static const std::map<std::string, int (*)(DeviceRegistry&, const Args&, std::string*)> kCommands = {
      {"attach", Attach}, {"detach", Detach}, {"trust", Trust}, {"lock", Lock}, {"fault", ArmFault}, {"list", List}, {"passcode", EnterPasscode}};
  if (args.empty()) return Fail(message, "no command");
  auto command = kCommands.find(args[0]);
  if (command == kCommands.end()) return Fail(message, "unknown command " + args[0]);
  int status = command->second(registry, args, message);
  LogLine("control: %s -> %s", args[0].c_str(), status == 0 ? "ok" : message->c_str());
  return status;
}

}  // namespace vdevice
