// Identifiers a device or usbmuxd makes up: session IDs, the system BUID, escrow bags.
#pragma once

#include <cstddef>
#include <string>

namespace vdevice {

// An upper-case random (version 4) UUID text.
std::string RandomUuid();
std::string RandomBytes(size_t count);

}  // namespace vdevice
