// Device handles (AMDeviceRef). One handle per attachment: every subscription that sees the
// attachment gets the same handle, and it is never reused for another attachment. The handle
// itself is a small shell that lives for the rest of the process, so a host that keeps it after
// the device left can still pass it in and gets an error back; what the shell points at (the
// DeviceLink with its lockdown connection) is reference-counted and goes away once the device has
// left and the last call using it has returned.
#pragma once

#include <memory>
#include <mutex>

#include "mobiledevice/device_link.h"

struct am_device {
  explicit am_device(devicefw::md::DeviceAttachment attached)
      : attachment(std::move(attached)), link(std::make_shared<devicefw::md::DeviceLink>(attachment)) {}

  // The link for one call, or null once the device has left.
  std::shared_ptr<devicefw::md::DeviceLink> Link() {
    std::lock_guard lock(mutex);
    return link;
  }

  const devicefw::md::DeviceAttachment attachment;
  std::mutex mutex;
  std::shared_ptr<devicefw::md::DeviceLink> link;
};

namespace devicefw::md {

// The handle of the attachment usbmuxd calls `mux_handle`, made on first sight.
AMDeviceRef DeviceForAttachment(const DeviceAttachment& attachment);
// Marks the attachment as gone: later calls on its handle fail. Repeated calls do nothing.
void DetachDevice(uint32_t mux_handle);
// Marks every attachment as gone (nobody is told of departures any more once the last
// subscription ends, so their state cannot be trusted).
void DetachAllDevices();
// True for a handle this library made (guards against stray pointers from the host).
bool IsKnownDevice(AMDeviceRef device);

}  // namespace devicefw::md
