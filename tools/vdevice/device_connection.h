// Runs the device service a connection was made for, whichever way it arrived: through
// usbmuxd's Connect or, for a network device, straight over TCP.
#pragma once

#include <atomic>
#include <string>

#include "platform/kst_socket.h"
#include "virtual_device.h"

namespace vdevice {

// Serves `socket` with the named service of `device` until either side ends it.
// A connection to a device that is detached meanwhile is closed at once.
void ServeDeviceConnection(kst::KstSocket& socket, VirtualDevice& device, const std::string& service_name,
                           const std::atomic<bool>& stopping, bool tcp);

}  // namespace vdevice
