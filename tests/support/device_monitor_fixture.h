// Brings up Tandrel's device layer in this process (the framework loaded through a registry file,
// the device monitor started) and waits for the first device it reports ready.
#pragma once

#include <chrono>
#include <memory>
#include <string>

class KorDevice;

// Null when monitoring does not start or no device is ready in time. Call once per process: the
// monitor and its observer stay for the life of the process.
std::shared_ptr<KorDevice> StartDeviceMonitorInProcess(const std::string& registry_file,
                                                       std::chrono::milliseconds timeout);
