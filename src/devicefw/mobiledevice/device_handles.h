// Ownership of libimobiledevice and libusbmuxd objects.
#pragma once

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <cstdlib>
#include <memory>
#include <type_traits>

namespace devicefw::md {

struct IdeviceFree {
  void operator()(idevice_t device) const { idevice_free(device); }
};
using IdeviceHandle = std::unique_ptr<std::remove_pointer_t<idevice_t>, IdeviceFree>;

struct LockdownFree {
  void operator()(lockdownd_client_t client) const { lockdownd_client_free(client); }
};
using LockdownHandle = std::unique_ptr<std::remove_pointer_t<lockdownd_client_t>, LockdownFree>;

struct ServiceDescriptorFree {
  void operator()(lockdownd_service_descriptor_t service) const { lockdownd_service_descriptor_free(service); }
};
using ServiceDescriptorHandle =
    std::unique_ptr<std::remove_pointer_t<lockdownd_service_descriptor_t>, ServiceDescriptorFree>;

struct ConnectionFree {
  void operator()(idevice_connection_t connection) const { idevice_disconnect(connection); }
};
using ConnectionHandle = std::unique_ptr<std::remove_pointer_t<idevice_connection_t>, ConnectionFree>;

// Memory that a C library allocated with malloc.
struct MallocFree {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using MallocHandle = std::unique_ptr<T, MallocFree>;

}  // namespace devicefw::md
