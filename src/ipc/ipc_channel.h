// The byte-stream layer of the front-end link: a set of loopback TCP connections served by one
// receive thread, a heartbeat thread per connection this side opened, and an accept thread when
// the channel listens. Received bytes and lost connections go to the virtual Receive.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ipc/ipc_packet.h"
#include "platform/kst_socket.h"

namespace kst {

enum IPCConnectionRole : int32_t {
  kIPCRoleOutgoing = 0,
  kIPCRoleAccepted = 1,
};

struct IPCConnection {
  KstSocket socket;
  int32_t port = 0;
  std::string host;  // "127.0.0.1" for outgoing connections, empty for accepted ones
  std::atomic<int32_t> last_activity{0};  // seconds; 0 = nothing sent or received since the last check
  int32_t role = kIPCRoleOutgoing;
  std::atomic<int32_t> closed{0};  // set once the loss has been reported
  bool in_select_set = false;
  std::mutex send_mutex;  // serialises whole writes on this socket
  NativeSocket native = kInvalidSocket;  // the socket number, kept after the socket is closed
};

struct IPCListen {
  KstSocket socket;
  int32_t port = 0;
  std::string host = "127.0.0.1";
  int32_t role = kIPCRoleAccepted;
};

enum IPCEventKind : int32_t {
  kIPCEventAccepting = 0,
  kIPCEventAccepted = 1,
  kIPCEventHeartbeatDue = 2,
  kIPCEventHeartbeatTimer = 3,
  kIPCEventLog = 4,
};

struct IPCEvent {
  int32_t kind = kIPCEventLog;
  const void* subject = nullptr;  // IPCConnection* or IPCListen*
  const char* text = nullptr;     // kind 4 only
};

// Returns 0 to let a due heartbeat go out; any other value suppresses it. Other kinds ignore it.
using IPCEventCallback = std::function<int(const IPCEvent&)>;

class IPCChannel {
 public:
  static constexpr std::chrono::milliseconds kDefaultHeartbeatInterval{30000};
  static constexpr size_t kMaxSelectSockets = 64;
  static constexpr size_t kReceiveChunkSize = 4096;
  // How many chunks one readable connection may deliver before the others get their turn.
  static constexpr size_t kMaxChunksPerWakeup = 256;

  explicit IPCChannel(std::chrono::milliseconds heartbeat_interval = kDefaultHeartbeatInterval);
  virtual ~IPCChannel();
  IPCChannel(const IPCChannel&) = delete;
  IPCChannel& operator=(const IPCChannel&) = delete;

  // Stops every thread and closes every socket. Safe to call more than once.
  virtual void Close();

  // Called with each chunk of received bytes; a null chunk of length 0 reports a lost connection.
  virtual void Receive(IPCConnection* connection, const uint8_t* data, size_t length) = 0;

  // Set before the first connection exists.
  void SetEventCallback(IPCEventCallback callback) { event_callback_ = std::move(callback); }
  // A send that makes no progress for this long fails, and its connection is then handled as
  // lost, exactly as one the peer closed: a peer that stops reading cannot hold a sender forever.
  // Applies to connections made afterwards; 0 lets sends wait forever.
  void SetSendTimeout(std::chrono::milliseconds timeout) { send_timeout_ms_.store(static_cast<int>(timeout.count())); }

  IPCConnection* Connect(int port);
  IPCListen* Listen(int port);
  static int ProbePort();

  // Writes the buffers one after another while holding the connection's send lock, so that no
  // other write (a heartbeat, another message) comes between them. False when a write failed.
  bool Send(IPCConnection* connection, const void* data, size_t length);
  bool SendParts(IPCConnection* connection, const std::vector<std::pair<const void*, size_t>>& parts);

  std::vector<IPCConnection*> Connections();
  bool HasConnections();
  IPCListen* ListenRecord() { return listen_.get(); }

 protected:
  bool Stopping() const { return stop_.load(); }
  void RaiseLog(const void* subject, const std::string& text);
  int RaiseEvent(int32_t kind, const void* subject, const char* text = nullptr);

 private:
  void JoinThreads();
  void ReceiveLoop();
  void HeartbeatLoop(IPCConnection* connection);
  void AcceptLoop();
  void AddConnection(std::unique_ptr<IPCConnection> connection);
  void ReadFrom(IPCConnection* connection, uint8_t* buffer);
  // Hands one received chunk on; false when the channel is stopping.
  bool HandleChunk(IPCConnection* connection, const uint8_t* buffer, size_t count);
  void DropConnection(IPCConnection* connection, long received, int error);
  bool SleepUnlessStopped(std::chrono::milliseconds interval);
  static void StampActivity(IPCConnection* connection);
  void PrepareSocket(const KstSocket& socket) const;
  // After a failed send: shuts the socket down so that the receive thread reports the loss.
  void AbandonAfterFailedSend(IPCConnection* connection);

  const std::chrono::milliseconds heartbeat_interval_;
  std::atomic<int> send_timeout_ms_{0};
  IPCEventCallback event_callback_;

  std::mutex mutex_;  // guards connections_, retired_ and the select set
  std::condition_variable connection_added_;
  std::set<IPCConnection*> connections_;
  std::vector<std::unique_ptr<IPCConnection>> owned_;  // every record ever made, alive until the channel ends
  std::vector<NativeSocket> select_set_;               // only touched by the receive thread
  std::unique_ptr<IPCListen> listen_;

  std::atomic<bool> stop_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
  std::thread receive_thread_;
  std::thread accept_thread_;
  std::mutex heartbeat_mutex_;
  std::vector<std::thread> heartbeat_threads_;
};

}  // namespace kst
