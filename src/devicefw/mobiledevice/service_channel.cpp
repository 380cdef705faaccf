#include "mobiledevice/service_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <unordered_map>

namespace devicefw::md {
namespace {

constexpr size_t kMaxSslPiece = 1 << 20;

struct ChannelTable {
  std::mutex mutex;
  std::unordered_map<int, std::weak_ptr<ServiceChannel>> by_socket;
};

ChannelTable& Channels() {
  static auto* table = new ChannelTable;
  return *table;
}

// Sockets may come non-blocking (libimobiledevice leaves them so); a call that would block waits
// for the socket instead of failing, at most `timeout_ms` (negative: without end).
bool WaitUntilReady(int socket, short events, int timeout_ms = -1) {
  pollfd entry{socket, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && (entry.revents & (events | POLLHUP | POLLERR)) != 0;
  }
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

bool IsBlocking(int socket) {
  const int flags = fcntl(socket, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

// The receive time-out the host set on the socket (SO_RCVTIMEO), as with the platform's own
// framework; -1 when there is none.
int ReceiveTimeoutMs(int socket) {
  timeval value{};
  socklen_t size = sizeof(value);
  if (getsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, &size) != 0) return -1;
  const long long ms = static_cast<long long>(value.tv_sec) * 1000 + value.tv_usec / 1000;
  return ms > 0 ? static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max())) : -1;
}

// Plain service sockets are read in large blocking pieces.
void MakeBlocking(int socket) {
  const int flags = fcntl(socket, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) != 0) fcntl(socket, F_SETFL, flags & ~O_NONBLOCK);
}

int SocketOf(idevice_connection_t connection) {
  int socket = -1;
  return idevice_connection_get_fd(connection, &socket) == IDEVICE_E_SUCCESS ? socket : -1;
}

}  // namespace

ServiceChannel::ServiceChannel(ConnectionHandle connection, bool ssl)
    : connection_(std::move(connection)), socket_(SocketOf(connection_.get())), ssl_(ssl) {
  if (!ssl_ && socket_ >= 0) MakeBlocking(socket_);
}

std::shared_ptr<ServiceChannel> ServiceChannel::ForSocket(int socket) {
  return std::shared_ptr<ServiceChannel>(new ServiceChannel(socket));
}

bool ServiceChannel::Send(const void* head, size_t head_length, const void* body, size_t body_length) {
  if (shut_down_.load()) return false;
  if (!ssl_) return SendOverSocket(head, head_length, body, body_length);
  return SendOverSsl(head, head_length) && SendOverSsl(body, body_length);
}

bool ServiceChannel::SendOverSsl(const void* data, size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const auto piece = static_cast<uint32_t>(std::min(length, kMaxSslPiece));
    uint32_t sent = 0;
    if (idevice_connection_send(connection_.get(), bytes, piece, &sent) != IDEVICE_E_SUCCESS || sent == 0) return false;
    bytes += sent;
    length -= sent;
  }
  return true;
}

bool ServiceChannel::SendOverSocket(const void* head, size_t head_length, const void* body, size_t body_length) {
  iovec parts[2] = {{const_cast<void*>(head), head_length}, {const_cast<void*>(body), body_length}};
  size_t first = 0;
  while (first < 2) {
    if (parts[first].iov_len == 0) {
      ++first;
      continue;
    }
    msghdr message{};
    message.msg_iov = &parts[first];
    message.msg_iovlen = 2 - first;
    const ssize_t sent = sendmsg(socket_, &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && WouldBlock() && WaitUntilReady(socket_, POLLOUT)) continue;
    if (sent <= 0) return false;
    // Advance over what went out, possibly across both parts.
    auto remaining = static_cast<size_t>(sent);
    while (remaining > 0 && first < 2) {
      const size_t used = std::min(remaining, parts[first].iov_len);
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + used;
      parts[first].iov_len -= used;
      remaining -= used;
      if (parts[first].iov_len == 0) ++first;
    }
  }
  return true;
}

long ServiceChannel::ReceiveOverSocket(void* buffer, size_t capacity, bool wait_all) {
  for (;;) {
    const ssize_t got = recv(socket_, buffer, capacity, wait_all ? MSG_WAITALL : 0);
    if (got < 0 && errno == EINTR) continue;
    // On a blocking socket "would block" means its receive time-out ran out: the read fails.
    if (got < 0 && WouldBlock() && !IsBlocking(socket_) &&
        WaitUntilReady(socket_, POLLIN, ReceiveTimeoutMs(socket_))) {
      continue;
    }
    return got < 0 ? -1 : static_cast<long>(got);
  }
}

long ServiceChannel::ReceiveSome(void* buffer, size_t capacity) {
  if (shut_down_.load()) return -1;
  if (capacity == 0) return 0;
  if (!ssl_) return ReceiveOverSocket(buffer, capacity, false);
  uint32_t received = 0;
  const auto piece = static_cast<uint32_t>(std::min(capacity, kMaxSslPiece));
  const int timeout_ms = socket_ >= 0 ? ReceiveTimeoutMs(socket_) : -1;
  auto* bytes = static_cast<char*>(buffer);
  const idevice_error_t result =
      timeout_ms < 0 ? idevice_connection_receive(connection_.get(), bytes, piece, &received)
                     : idevice_connection_receive_timeout(connection_.get(), bytes, piece, &received,
                                                          static_cast<unsigned int>(timeout_ms));
  if (result != IDEVICE_E_SUCCESS && received == 0) return -1;
  return static_cast<long>(received);
}

bool ServiceChannel::ReceiveAll(void* buffer, size_t length) {
  auto* bytes = static_cast<char*>(buffer);
  while (length > 0) {
    if (shut_down_.load()) return false;
    const long got = ssl_ ? ReceiveSome(bytes, length) : ReceiveOverSocket(bytes, length, true);
    if (got <= 0) return false;
    bytes += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

void ServiceChannel::Shutdown() {
  if (shut_down_.exchange(true)) return;
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

void RegisterChannel(const std::shared_ptr<ServiceChannel>& channel) {
  ChannelTable& table = Channels();
  std::lock_guard lock(table.mutex);
  table.by_socket[channel->socket()] = channel;
}

void UnregisterChannel(const ServiceChannel& channel) {
  ChannelTable& table = Channels();
  std::lock_guard lock(table.mutex);
  auto found = table.by_socket.find(channel.socket());
  if (found != table.by_socket.end() && found->second.lock().get() == &channel) table.by_socket.erase(found);
}

std::shared_ptr<ServiceChannel> FindChannel(int socket) {
  ChannelTable& table = Channels();
  std::lock_guard lock(table.mutex);
  auto found = table.by_socket.find(socket);
  return found == table.by_socket.end() ? nullptr : found->second.lock();
}

}  // namespace devicefw::md
