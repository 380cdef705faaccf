#include "device_connection.h"

#include "device_service.h"
#include "service_stream.h"

namespace vdevice {

namespace {

// Large socket buffers let bulk AFC reads move in few system calls.
constexpr int kServiceSocketBuffer = 4 << 20;

}  // namespace

void ServeDeviceConnection(kst::KstSocket& socket, VirtualDevice& device, const std::string& service_name,
                           const std::atomic<bool>& stopping, bool tcp) {
  const ServiceFactory* factory = ServiceRegistry::Find(service_name);
  std::unique_ptr<DeviceService> service = factory ? (*factory)(device) : nullptr;
  if (!service) return;
  socket.SetBufferSizes(kServiceSocketBuffer);
  if (tcp) socket.SetNoDelay(true);
  device.TrackConnection(&socket);
  // Checked after tracking: a detach that ran just before would otherwise leave this stream uncut.
  if (device.attached()) {
    ServiceStream stream(socket, service_name, &device.faults(), &stopping);
    ServiceContext context{device, stream, stopping};
    service->Serve(context);
  }
  device.UntrackConnection(&socket);
}

}  // namespace vdevice
