// The byte stream of one started device service. Without SSL the socket is used directly (large
// blocking reads and gathered writes, no per-call time-outs); with SSL the bytes go through
// libimobiledevice's connection. A channel may also wrap a bare socket that someone else owns,
// for AFC spoken on a socket that was not started here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "mobiledevice/device_handles.h"

namespace devicefw::md {

class ServiceChannel {
 public:
  // Takes ownership of `connection`.
  ServiceChannel(ConnectionHandle connection, bool ssl);
  // A channel over a socket it does not own (never closed here).
  static std::shared_ptr<ServiceChannel> ForSocket(int socket);

  int socket() const { return socket_; }
  bool ssl() const { return ssl_; }

  // Sends both parts completely (either may be empty); false when the stream failed.
  bool Send(const void* head, size_t head_length, const void* body = nullptr, size_t body_length = 0);
  // Receives 1..capacity bytes; 0 at end of stream, -1 on failure. With SSL it waits for all.
  long ReceiveSome(void* buffer, size_t capacity);
  // Receives exactly `length` bytes; false on end of stream or failure.
  bool ReceiveAll(void* buffer, size_t length);
  // Ends the stream for every user: blocked and later calls fail. The socket stays open until
  // the channel is destroyed, so its number cannot be reused under a blocked reader.
  void Shutdown();

 private:
  explicit ServiceChannel(int socket) : socket_(socket), ssl_(false) {}

  bool SendOverSsl(const void* data, size_t length);
  bool SendOverSocket(const void* head, size_t head_length, const void* body, size_t body_length);
  long ReceiveOverSocket(void* buffer, size_t capacity, bool wait_all);

  ConnectionHandle connection_;
  int socket_ = -1;
  bool ssl_ = false;
  std::atomic<bool> shut_down_{false};
};

// Service channels by socket number, so that AFCConnectionOpen(socket) finds the channel that
// owns the socket (and its SSL state).
void RegisterChannel(const std::shared_ptr<ServiceChannel>& channel);
void UnregisterChannel(const ServiceChannel& channel);
std::shared_ptr<ServiceChannel> FindChannel(int socket);

}  // namespace devicefw::md
