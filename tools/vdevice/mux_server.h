// The usbmuxd side: answers device lists, pair record storage and BUID requests, feeds Listen
// connections with attach and detach events, and turns a Connect into a stream to a device port.
#pragma once

#include <atomic>

#include "device_registry.h"
#include "platform/kst_socket.h"

namespace vdevice {

class MuxServer {
 public:
  MuxServer(DeviceRegistry& registry, const std::atomic<bool>& stopping, bool tcp)
      : registry_(registry), stopping_(stopping), tcp_(tcp) {}

  // Serves one client connection until it closes (or becomes a device stream and that ends).
  void ServeClient(kst::KstSocket& socket);

 private:
  enum class Next { kContinue, kClose };
  Next HandleRequest(kst::KstSocket& socket, uint32_t tag, plist_t request);
  bool Reply(const kst::KstSocket& socket, uint32_t tag, plist_t message);
  bool ReplyResult(const kst::KstSocket& socket, uint32_t tag, uint32_t number);

  bool ListDevices(const kst::KstSocket& socket, uint32_t tag);
  void Listen(const kst::KstSocket& socket, uint32_t tag);
  void Connect(kst::KstSocket& socket, uint32_t tag, plist_t request);
  bool ReadPairRecord(const kst::KstSocket& socket, uint32_t tag, plist_t request);
  bool SavePairRecord(const kst::KstSocket& socket, uint32_t tag, plist_t request);
  bool DeletePairRecord(const kst::KstSocket& socket, uint32_t tag, plist_t request);
  bool ReadBuid(const kst::KstSocket& socket, uint32_t tag);

  DeviceRegistry& registry_;
  const std::atomic<bool>& stopping_;
  const bool tcp_;
};

}  // namespace vdevice
