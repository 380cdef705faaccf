#include "platform/kst_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <climits>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

namespace kst {

namespace {

void SetError(int* error, int value) {
  if (error) *error = value;
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool FillUnixAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

KstSocket NewSocket(int domain, int* error) {
  int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) SetError(error, errno);
  return KstSocket(fd);
}

// An interrupted connect goes on in the background: wait for it and read its outcome.
bool ConnectRetryingInterrupts(const KstSocket& socket, const sockaddr* address, socklen_t size) {
  if (::connect(socket.Get(), address, size) == 0) return true;
  if (errno != EINTR) return false;
  pollfd entry{socket.Get(), POLLOUT, 0};
  while (::poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  int error = 0;
  socklen_t length = sizeof(error);
  if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
  errno = error;
  return error == 0;
}

}  // namespace

KstSocket& KstSocket::operator=(KstSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

NativeSocket KstSocket::Release() {
  NativeSocket fd = fd_;
  fd_ = kInvalidSocket;
  return fd;
}

void KstSocket::Close() {
  if (fd_ != kInvalidSocket) {
    ::close(fd_);
    fd_ = kInvalidSocket;
  }
}

void KstSocket::Shutdown() const {
  if (fd_ != kInvalidSocket) ::shutdown(fd_, SHUT_RDWR);
}

bool KstSocket::SendAll(const void* data, size_t length) const {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t sent = ::send(fd_, bytes, length, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      last_error_ = errno;
      return false;
    }
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

bool KstSocket::SendAllParts(const std::vector<std::pair<const void*, size_t>>& parts) const {
  std::vector<iovec> vectors;
  vectors.reserve(parts.size());
  for (const auto& [data, length] : parts) {
    if (length > 0) vectors.push_back(iovec{const_cast<void*>(data), length});
  }
  size_t index = 0;
  while (index < vectors.size()) {
    msghdr message{};
    message.msg_iov = vectors.data() + index;
    message.msg_iovlen = std::min<size_t>(vectors.size() - index, IOV_MAX);
    ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      last_error_ = errno;
      return false;
    }
    size_t left = static_cast<size_t>(sent);
    while (index < vectors.size() && left >= vectors[index].iov_len) {
      left -= vectors[index].iov_len;
      ++index;
    }
    if (index < vectors.size() && left > 0) {
      vectors[index].iov_base = static_cast<char*>(vectors[index].iov_base) + left;
      vectors[index].iov_len -= left;
    }
  }
  return true;
}

long KstSocket::Recv(void* buffer, size_t capacity) const {
  for (;;) {
    ssize_t got = ::recv(fd_, buffer, capacity, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) last_error_ = errno;
    return static_cast<long>(got);
  }
}

long KstSocket::RecvAvailable(void* buffer, size_t capacity) const {
  for (;;) {
    ssize_t got = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    last_error_ = errno;
    return -1;
  }
}

bool KstSocket::RecvAll(void* buffer, size_t length) const {
  char* bytes = static_cast<char*>(buffer);
  while (length > 0) {
    long got = Recv(bytes, length);
    if (got <= 0) return false;
    bytes += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

bool KstSocket::WaitReadable(int timeout_ms) const {
  pollfd entry{fd_, POLLIN, 0};
  for (;;) {
    int ready = ::poll(&entry, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

bool KstSocket::SetKeepAlive(bool on) const {
  int value = on ? 1 : 0;
  return ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof(value)) == 0;
}

int KstSocket::GetKeepAlive() const {
  int value = 0;
  socklen_t size = sizeof(value);
  if (::getsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &value, &size) != 0) return -1;
  return value;
}

bool KstSocket::SetBlocking(bool blocking) const {
  int flags = ::fcntl(fd_, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(fd_, F_SETFL, flags) == 0;
}

bool KstSocket::SetNoDelay(bool on) const {
  int value = on ? 1 : 0;
  return ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof(value)) == 0;
}

bool KstSocket::SetSendTimeout(int timeout_ms) const {
  timeval value{};
  value.tv_sec = timeout_ms / 1000;
  value.tv_usec = (timeout_ms % 1000) * 1000;
  return ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value)) == 0;
}

bool KstSocket::SetBufferSizes(int bytes) const {
  bool ok = ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes)) == 0;
  return ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0 && ok;
}

int KstSocket::LocalPort() const {
  sockaddr_in address{};
  socklen_t size = sizeof(address);
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
  return ntohs(address.sin_port);
}

KstSocket TcpConnectLoopback(uint16_t port, int* error) {
  KstSocket socket = NewSocket(AF_INET, error);
  if (!socket.Valid()) return socket;
  sockaddr_in address = LoopbackAddress(port);
  if (!ConnectRetryingInterrupts(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address))) {
    SetError(error, errno);
    return KstSocket();
  }
  return socket;
}

KstSocket TcpListenLoopback(uint16_t port, int backlog, int* error) {
  KstSocket socket = NewSocket(AF_INET, error);
  if (!socket.Valid()) return socket;
  int reuse = 1;
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
  sockaddr_in address = LoopbackAddress(port);
  if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(socket.Get(), backlog) != 0) {
    SetError(error, errno);
    return KstSocket();
  }
  return socket;
}

int ProbeFreePort(std::string* error_text) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error_text) *error_text = std::string("socket() error: ") + std::strerror(errno);
    return -1;
  }
  KstSocket socket(fd);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    if (error_text) *error_text = std::string("bind() error: ") + std::strerror(errno);
    return -1;
  }
  int port = socket.LocalPort();
  if (port < 0 && error_text) *error_text = std::string("getsockname() error: ") + std::strerror(errno);
  return port;
}

KstSocket Accept(const KstSocket& listener) {
  for (;;) {
    int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return KstSocket(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return KstSocket();
  }
}

KstSocket UnixConnect(const std::string& path, int* error) {
  sockaddr_un address;
  if (!FillUnixAddress(path, &address)) {
    SetError(error, ENAMETOOLONG);
    return KstSocket();
  }
  KstSocket socket = NewSocket(AF_UNIX, error);
  if (!socket.Valid()) return socket;
  if (!ConnectRetryingInterrupts(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address))) {
    SetError(error, errno);
    return KstSocket();
  }
  return socket;
}

KstSocket UnixListen(const std::string& path, int backlog, int* error) {
  sockaddr_un address;
  if (!FillUnixAddress(path, &address)) {
    SetError(error, ENAMETOOLONG);
    return KstSocket();
  }
  KstSocket socket = NewSocket(AF_UNIX, error);
  if (!socket.Valid()) return socket;
  ::unlink(path.c_str());
  if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(socket.Get(), backlog) != 0) {
    SetError(error, errno);
    return KstSocket();
  }
  return socket;
}

bool ParseStreamAddress(const std::string& text, StreamAddress* out) {
  *out = StreamAddress();
  if (text.rfind("UNIX:", 0) == 0) {
    out->path = text.substr(5);
    return !out->path.empty();
  }
  if (!text.empty() && text[0] == '/') {
    out->path = text;
    return true;
  }
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  std::string port_text = text.substr(colon + 1);
  char* end = nullptr;
  long port = std::strtol(port_text.c_str(), &end, 10);
  if (*end != '\0' || port <= 0 || port > 65535) return false;
  out->is_unix = false;
  out->host = text.substr(0, colon);
  out->port = static_cast<uint16_t>(port);
  return true;
}

namespace {

bool ResolveIpv4(const std::string& host, uint16_t port, sockaddr_in* address) {
  std::memset(address, 0, sizeof(*address));
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  if (host == "localhost") {
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return true;
  }
  return ::inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1;
}

}  // namespace

KstSocket ConnectStreamAddress(const StreamAddress& address, int* error) {
  if (address.is_unix) return UnixConnect(address.path, error);
  sockaddr_in target;
  if (!ResolveIpv4(address.host, address.port, &target)) {
    SetError(error, EINVAL);
    return KstSocket();
  }
  KstSocket socket = NewSocket(AF_INET, error);
  if (!socket.Valid()) return socket;
  if (!ConnectRetryingInterrupts(socket, reinterpret_cast<sockaddr*>(&target), sizeof(target))) {
    SetError(error, errno);
    return KstSocket();
  }
  return socket;
}

KstSocket ListenStreamAddress(const StreamAddress& address, int backlog, int* error) {
  if (address.is_unix) return UnixListen(address.path, backlog, error);
  sockaddr_in target;
  if (!ResolveIpv4(address.host, address.port, &target)) {
    SetError(error, EINVAL);
    return KstSocket();
  }
  KstSocket socket = NewSocket(AF_INET, error);
  if (!socket.Valid()) return socket;
  int reuse = 1;
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
  if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0 ||
      ::listen(socket.Get(), backlog) != 0) {
    SetError(error, errno);
    return KstSocket();
  }
  return socket;
}

bool WaitAnyReadable(const std::vector<NativeSocket>& sockets, int timeout_ms,
                     std::vector<NativeSocket>* readable, int* error) {
  readable->clear();
  std::vector<pollfd> entries;
  entries.reserve(sockets.size());
  for (NativeSocket fd : sockets) entries.push_back(pollfd{fd, POLLIN, 0});
  int ready = ::poll(entries.data(), entries.size(), timeout_ms);
  if (ready < 0) {
    if (errno == EINTR) return true;
    SetError(error, errno);
    return false;
  }
  for (const pollfd& entry : entries) {
    if (entry.revents & (POLLIN | POLLHUP | POLLERR)) readable->push_back(entry.fd);
  }
  return true;
}

std::string SocketErrorText(int error) { return std::strerror(error); }

}  // namespace kst
