// The first reply of the basic-information command: the device's lockdown values in a fixed order,
// and whether it is jailbroken.
#pragma once

#include <string>

#include "utility/ios/kor_device.h"

// The JSON text of the first reply; values the device does not return are left out.
std::string KorDeviceSummaryJson(const std::shared_ptr<KorDevice>& device);
// True when "com.apple.afc2" can be had and "/var/root/Media/Cydia/AutoInstall" opens on it.
bool KorIsJailbroken(AMDeviceRef device);
