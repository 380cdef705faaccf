// Faults a test arms on a device's service: they make the device misbehave the way real
// devices and cables do, so that the computer side's error paths can be exercised.
//   drop BYTES   the next connection to the service is closed after the device sent BYTES
//   stall MS     the next reply of the service is held back MS milliseconds
//   error VALUE  the next request of the service is answered with the error VALUE
//   refuse       the next StartService for the service is answered with an error
//   pace MBPS    the next reply goes out at MBPS megabytes per second, as over a slower cable
//   frame LENGTH the next message of a DeviceLink service goes out as a bare length field of
//                LENGTH: 0 in place of the message, any other length and then the connection closes
// and, for the backup service (com.apple.mobilebackup2):
//   disconnect PCT    the next backup says DLMessageDisconnect once its progress reaches PCT percent
//   unplug PCT        the device is unplugged once the next backup's progress reaches PCT percent
//   finish PCT        the next backup ends with ErrorCode 0 once its progress reaches PCT percent
//   stray             the next backup sends a message no computer knows ("DLMessageDISCONNECT")
//   passcode MS       the next backup waits MS milliseconds for `ctl passcode UDID`, then ends with
//                     ErrorCode 208 "Device locked" unless the passcode was entered
//   silence MS        the next backup says nothing for MS milliseconds before its first message
//   hostile OP PATH [TARGET]  the next backup (restore for download) names PATH in a message of
//                     kind OP: upload, mkdir, move (PATH to TARGET), remove, download
// Each may end with a count (how many times it fires; "always" keeps it until cleared).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vdevice {

enum class FaultKind {
  kDrop, kStall, kError, kRefuse, kPace,
  kFrame, kDisconnectAt, kUnplugAt, kFinishAt, kPasscode, kSilence, kHostile, kStray
};

struct Fault {
  FaultKind kind = FaultKind::kDrop;
  uint64_t amount = 0;  // bytes for drop, milliseconds for stall, megabytes per second for pace,
                       // the announced length for frame
  std::string value;    // error text for error and refuse; percent for disconnect and unplug;
                        // the operation for hostile
  int remaining = 1;    // negative: until cleared
  std::vector<std::string> paths;  // hostile: the path (and a move's target)
};

// Parses "KIND ARGS... [COUNT]"; false with *error explaining the expected form.
bool ParseFault(const std::vector<std::string>& words, Fault* fault, std::string* error);

class FaultTable {
 public:
  void Arm(const std::string& service, const Fault& fault);
  void Clear(const std::string& service);
  // Uses up one firing of the service's fault of this kind, when one is armed.
  std::optional<Fault> Take(const std::string& service, FaultKind kind);
  // Uses up one firing of every fault of this kind armed on the service that `wanted` accepts
  // (all when it is empty), in arming order.
  std::vector<Fault> TakeAll(const std::string& service, FaultKind kind,
                             const std::function<bool(const Fault&)>& wanted = {});

 private:
  std::mutex mutex_;
  std::multimap<std::string, Fault> armed_;
};

}  // namespace vdevice
