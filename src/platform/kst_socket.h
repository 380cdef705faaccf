// Sockets behind one small interface: TCP on the loopback interface and UNIX-domain streams.
// Every socket the program opens is held by a KstSocket, which closes it when it goes away.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kst {

using NativeSocket = int;
constexpr NativeSocket kInvalidSocket = -1;

class KstSocket {
 public:
  KstSocket() = default;
  explicit KstSocket(NativeSocket fd) : fd_(fd) {}
  ~KstSocket() { Close(); }
  KstSocket(const KstSocket&) = delete;
  KstSocket& operator=(const KstSocket&) = delete;
  KstSocket(KstSocket&& other) noexcept : fd_(other.Release()) {}
  KstSocket& operator=(KstSocket&& other) noexcept;

  bool Valid() const { return fd_ != kInvalidSocket; }
  NativeSocket Get() const { return fd_; }
  NativeSocket Release();
  void Close();
  // Shuts both directions down; a thread blocked in Recv on this socket returns at once.
  void Shutdown() const;

  // Writes the whole buffer (retrying partial writes); false when the peer is gone.
  bool SendAll(const void* data, size_t length) const;
  // Writes several buffers as one write (one system call when the socket takes it all), so
  // that nothing of another writer and no delayed small segment comes between them.
  bool SendAllParts(const std::vector<std::pair<const void*, size_t>>& parts) const;
  // Reads up to `capacity` bytes; returns the count, 0 at end of stream, -1 on error.
  long Recv(void* buffer, size_t capacity) const;
  // Reads what is already waiting without blocking: the count, 0 at end of stream, -1 on error,
  // kWouldBlock when nothing is waiting.
  static constexpr long kWouldBlock = -2;
  long RecvAvailable(void* buffer, size_t capacity) const;
  // Reads exactly `length` bytes; false on end of stream or error.
  bool RecvAll(void* buffer, size_t length) const;
  // Waits until the socket is readable; false on time-out. A negative timeout waits forever.
  bool WaitReadable(int timeout_ms) const;

  bool SetKeepAlive(bool on) const;
  int GetKeepAlive() const;
  bool SetBlocking(bool blocking) const;
  bool SetNoDelay(bool on) const;
  bool SetBufferSizes(int bytes) const;
  // A send that makes no progress for this long fails (0: sends may wait forever).
  bool SetSendTimeout(int timeout_ms) const;
  // The local port of a bound or connected TCP socket, or -1.
  int LocalPort() const;
  int LastError() const { return last_error_.load(); }

 private:
  NativeSocket fd_ = kInvalidSocket;
  // Written by a failing send or receive, which may run on different threads.
  mutable std::atomic<int> last_error_{0};
};

// Connects to 127.0.0.1:port. On failure the socket is invalid and *error holds errno.
KstSocket TcpConnectLoopback(uint16_t port, int* error = nullptr);
// Binds 127.0.0.1:port (0 picks a free port) and listens.
KstSocket TcpListenLoopback(uint16_t port, int backlog, int* error = nullptr);
// Binds any address at port 0 and reads back the port the system chose; -1 on failure.
int ProbeFreePort(std::string* error_text = nullptr);
// Accepts one connection; an invalid socket when the listener was closed or failed.
KstSocket Accept(const KstSocket& listener);

KstSocket UnixConnect(const std::string& path, int* error = nullptr);
KstSocket UnixListen(const std::string& path, int backlog, int* error = nullptr);

// An address in libusbmuxd's notation: "UNIX:/path" or "HOST:PORT" (a bare path is UNIX too).
struct StreamAddress {
  bool is_unix = true;
  std::string path;
  std::string host;
  uint16_t port = 0;
};
bool ParseStreamAddress(const std::string& text, StreamAddress* out);
KstSocket ConnectStreamAddress(const StreamAddress& address, int* error = nullptr);
KstSocket ListenStreamAddress(const StreamAddress& address, int backlog, int* error = nullptr);

// Waits until any of `sockets` is readable (at most `timeout_ms`); returns the readable ones.
// Returns false on a wait failure (with *error set), true otherwise (possibly with none ready).
bool WaitAnyReadable(const std::vector<NativeSocket>& sockets, int timeout_ms,
                     std::vector<NativeSocket>* readable, int* error = nullptr);

std::string SocketErrorText(int error);

}  // namespace kst
