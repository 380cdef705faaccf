// AMDServiceConnectionRef: the host's handle on one started service.
#pragma once

#include <memory>

#include "devicefw/device_framework_abi.h"
#include "mobiledevice/service_channel.h"

struct am_service_connection {
  std::shared_ptr<devicefw::md::ServiceChannel> channel;
};

namespace devicefw::md {

// Wraps a started service's channel and registers its socket for AFCConnectionOpen.
AMDServiceConnectionRef NewServiceConnection(std::shared_ptr<ServiceChannel> channel);

}  // namespace devicefw::md
