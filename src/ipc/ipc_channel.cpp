#include "ipc/ipc_channel.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/kst_log.h"

namespace kst {

namespace {

constexpr int kSelectTimeoutMs = 1000;
constexpr int kListenBacklog = 4;

std::string Format(const char* format, long a, long b = 0) {
  char text[128];
  std::snprintf(text, sizeof(text), format, a, b);
  return text;
}

}  // namespace

IPCChannel::IPCChannel(std::chrono::milliseconds heartbeat_interval) : heartbeat_interval_(heartbeat_interval) {
  receive_thread_ = std::thread([this] { ReceiveLoop(); });
}

IPCChannel::~IPCChannel() { IPCChannel::Close(); }

void IPCChannel::Close() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stop_.store(true);
  }
  stop_signal_.notify_all();
  // Shut the sockets down first: that wakes every thread blocked on them while their numbers
  // stay valid; they are closed only once no thread uses them any more.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (IPCConnection* connection : connections_) connection->socket.Shutdown();
    if (listen_) listen_->socket.Shutdown();
  }
  connection_added_.notify_all();
  JoinThreads();
  std::lock_guard<std::mutex> lock(mutex_);
  for (IPCConnection* connection : connections_) {
    std::lock_guard<std::mutex> send_lock(connection->send_mutex);
    connection->socket.Close();
  }
  connections_.clear();
  if (listen_) listen_->socket.Close();
}

void IPCChannel::JoinThreads() {
  auto join = [](std::thread& thread) {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    if (thread.joinable()) thread.detach();
  };
  join(receive_thread_);
  join(accept_thread_);
  std::vector<std::thread> heartbeats;
  {
    std::lock_guard<std::mutex> lock(heartbeat_mutex_);
    heartbeats.swap(heartbeat_threads_);
  }
  for (std::thread& thread : heartbeats) join(thread);
}

int IPCChannel::RaiseEvent(int32_t kind, const void* subject, const char* text) {
  if (!event_callback_) return 0;
  IPCEvent event;
  event.kind = kind;
  event.subject = subject;
  event.text = text;
  return event_callback_(event);
}

void IPCChannel::RaiseLog(const void* subject, const std::string& text) {
  KLOG(INFO) << text;
  RaiseEvent(kIPCEventLog, subject, text.c_str());
}

void IPCChannel::StampActivity(IPCConnection* connection) {
  int32_t now = static_cast<int32_t>(std::time(nullptr));
  connection->last_activity.store(now == 0 ? 1 : now);
}

void IPCChannel::AddConnection(std::unique_ptr<IPCConnection> connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.insert(connection.get());
  owned_.push_back(std::move(connection));
  connection_added_.notify_all();
}

IPCConnection* IPCChannel::Connect(int port) {
  if (Stopping() || port <= 0 || port > 65535) return nullptr;
  int error = 0;
  KstSocket socket = TcpConnectLoopback(static_cast<uint16_t>(port), &error);
  if (!socket.Valid()) {
    RaiseLog(nullptr, Format("connect error: %ld", error));
    return nullptr;
  }
  // Replies of one command follow each other closely; without this a reply can wait for the
  // front-end's delayed acknowledgement of the one before (tens of milliseconds).
  socket.SetNoDelay(true);
  PrepareSocket(socket);
  auto connection = std::make_unique<IPCConnection>();
  connection->native = socket.Get();
  connection->socket = std::move(socket);
  connection->port = port;
  connection->host = "127.0.0.1";
  connection->role = kIPCRoleOutgoing;
  IPCConnection* record = connection.get();
  AddConnection(std::move(connection));
  std::lock_guard<std::mutex> lock(heartbeat_mutex_);
  heartbeat_threads_.emplace_back([this, record] { HeartbeatLoop(record); });
  return record;
}

int IPCChannel::ProbePort() {
  std::string error_text;
  int port = ProbeFreePort(&error_text);
  if (port < 0) std::printf("%s\n", error_text.c_str());
  return port;
}

IPCListen* IPCChannel::Listen(int port) {
  if (Stopping() || listen_ || port < 0 || port > 65535) return nullptr;
  KstSocket socket = TcpListenLoopback(static_cast<uint16_t>(port), kListenBacklog);
  if (!socket.Valid()) return nullptr;
  auto record = std::make_unique<IPCListen>();
  record->port = socket.LocalPort();
  record->socket = std::move(socket);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listen_ = std::move(record);
  }
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return listen_.get();
}

bool IPCChannel::Send(IPCConnection* connection, const void* data, size_t length) {
  return SendParts(connection, {{data, length}});
}

bool IPCChannel::SendParts(IPCConnection* connection, const std::vector<std::pair<const void*, size_t>>& parts) {
  if (!connection) return false;
  StampActivity(connection);
  std::lock_guard<std::mutex> lock(connection->send_mutex);
  if (!connection->socket.Valid()) return false;
  if (connection->socket.SendAllParts(parts)) return true;
  AbandonAfterFailedSend(connection);
  return false;
}

void IPCChannel::PrepareSocket(const KstSocket& socket) const {
  int timeout_ms = send_timeout_ms_.load();
  if (timeout_ms > 0) socket.SetSendTimeout(timeout_ms);
}

void IPCChannel::AbandonAfterFailedSend(IPCConnection* connection) {
  RaiseLog(connection, Format("send failed (error %ld): connection treated as lost", connection->socket.LastError()));
  connection->socket.Shutdown();
}

std::vector<IPCConnection*> IPCChannel::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<IPCConnection*>(connections_.begin(), connections_.end());
}

bool IPCChannel::HasConnections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !connections_.empty();
}

bool IPCChannel::SleepUnlessStopped(std::chrono::milliseconds interval) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  return !stop_signal_.wait_for(lock, interval, [this] { return stop_.load(); });
}

void IPCChannel::ReceiveLoop() {
  std::vector<uint8_t> buffer(kReceiveChunkSize);
  while (!Stopping()) {
    std::vector<IPCConnection*> snapshot;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (connections_.empty()) {
        connection_added_.wait_for(lock, std::chrono::milliseconds(kSelectTimeoutMs));
      }
      for (IPCConnection* connection : connections_) {
        if (connection->in_select_set) continue;
        if (select_set_.size() >= kMaxSelectSockets) continue;  // never read: more than the set holds
        connection->in_select_set = true;
        select_set_.push_back(connection->native);
      }
      snapshot.assign(connections_.begin(), connections_.end());
    }
    if (Stopping()) break;
    if (select_set_.empty()) continue;
    std::vector<NativeSocket> readable;
    int error = 0;
    if (!WaitAnyReadable(select_set_, kSelectTimeoutMs, &readable, &error)) {
      RaiseLog(nullptr, Format("SelectRecv select() failed: %ld", error));
      SleepUnlessStopped(std::chrono::milliseconds(kSelectTimeoutMs));
      continue;
    }
    if (Stopping()) break;
    for (IPCConnection* connection : snapshot) {
      if (std::find(readable.begin(), readable.end(), connection->native) == readable.end()) continue;
      ReadFrom(connection, buffer.data());
    }
  }
}

void IPCChannel::ReadFrom(IPCConnection* connection, uint8_t* buffer) {
  long received = connection->socket.Recv(buffer, kReceiveChunkSize);
  // A full chunk means more is probably waiting: take it now rather than after another wait.
  for (size_t chunks = 0; received > 0; ++chunks) {
    if (!HandleChunk(connection, buffer, static_cast<size_t>(received))) return;
    if (static_cast<size_t>(received) < kReceiveChunkSize || chunks >= kMaxChunksPerWakeup) return;
    received = connection->socket.RecvAvailable(buffer, kReceiveChunkSize);
    if (received == KstSocket::kWouldBlock) return;
  }
  DropConnection(connection, received, received < 0 ? connection->socket.LastError() : 0);
}

bool IPCChannel::HandleChunk(IPCConnection* connection, const uint8_t* buffer, size_t count) {
  StampActivity(connection);
  if (count == kHeartbeatSize && std::all_of(buffer, buffer + count, [](uint8_t b) { return b == kHeartbeatByte; })) {
    RaiseLog(connection, Format("SelectRecv Heart Test Receive: %ld", static_cast<long>(count)));
    return true;
  }
  Receive(connection, buffer, count);
  return !Stopping();
}

void IPCChannel::DropConnection(IPCConnection* connection, long received, int error) {
  RaiseLog(connection, Format("SelectRecv recv: readed: %ld,code: %ld", received, error));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(connection);
    select_set_.erase(std::remove(select_set_.begin(), select_set_.end(), connection->native), select_set_.end());
  }
  if (connection->closed.exchange(1) == 0) Receive(connection, nullptr, 0);
  // The record stays alive with the channel (packets may still point at it); the socket goes.
  std::lock_guard<std::mutex> send_lock(connection->send_mutex);
  connection->socket.Close();
}

void IPCChannel::HeartbeatLoop(IPCConnection* connection) {
  static const uint8_t kHeartbeat[kHeartbeatSize] = {kHeartbeatByte, kHeartbeatByte, kHeartbeatByte, kHeartbeatByte,
                                                    kHeartbeatByte, kHeartbeatByte, kHeartbeatByte, kHeartbeatByte};
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (connections_.count(connection) == 0 || connection->closed.load()) return;
    }
    if (!SleepUnlessStopped(heartbeat_interval_)) return;
    RaiseEvent(kIPCEventHeartbeatTimer, connection);
    if (connection->last_activity.exchange(0) == 0) {
      bool allowed = !event_callback_ || RaiseEvent(kIPCEventHeartbeatDue, connection) == 0;
      if (allowed) {
        std::lock_guard<std::mutex> lock(connection->send_mutex);
        if (connection->socket.Valid() && !connection->socket.SendAll(kHeartbeat, sizeof(kHeartbeat))) {
          AbandonAfterFailedSend(connection);
        }
      }
    }
    if (Stopping()) return;
  }
}

void IPCChannel::AcceptLoop() {
  while (!Stopping()) {
    RaiseEvent(kIPCEventAccepting, listen_.get());
    KstSocket socket = Accept(listen_->socket);  // the listening socket is closed only after this thread ends
    if (!socket.Valid()) {
      if (Stopping()) return;
      SleepUnlessStopped(std::chrono::milliseconds(100));
      continue;
    }
    auto connection = std::make_unique<IPCConnection>();
    RaiseLog(connection.get(), Format("SO_KEEPALIVE Value: %ld", socket.GetKeepAlive()));
    socket.SetKeepAlive(true);
    RaiseLog(connection.get(), "Set SO_KEEPALIVE: ON");
    socket.SetBlocking(true);
    RaiseLog(connection.get(), "Set ioctlsocket : FIONBIO ON");
    socket.SetNoDelay(true);
    PrepareSocket(socket);
    connection->native = socket.Get();
    connection->socket = std::move(socket);
    connection->port = listen_->port;
    connection->role = kIPCRoleAccepted;
    IPCConnection* record = connection.get();
    AddConnection(std::move(connection));
    RaiseEvent(kIPCEventAccepted, record);
  }
}

}  // namespace kst
