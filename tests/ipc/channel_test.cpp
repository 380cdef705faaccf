// The socket and packet channels over real loopback connections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/ipc_channel.h"
#include "ipc/ipc_packet_channel.h"
#include "packet_test_util.h"

namespace {

using namespace std::chrono_literals;

// A byte-level channel that records what reaches its Receive.
class RecordingChannel : public kst::IPCChannel {
 public:
  using kst::IPCChannel::IPCChannel;
  ~RecordingChannel() override { Close(); }

  void Receive(kst::IPCConnection*, const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (data) {
      bytes_.append(reinterpret_cast<const char*>(data), length);
    } else {
      ++losses_;
    }
    signal_.notify_all();
  }
  bool WaitBytes(size_t count, std::chrono::milliseconds timeout = 3s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return signal_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
  }
  bool WaitLoss(std::chrono::milliseconds timeout = 3s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return signal_.wait_for(lock, timeout, [&] { return losses_ > 0; });
  }
  std::string Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  int Losses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return losses_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  std::string bytes_;
  int losses_ = 0;
};

const std::string kHeartbeat(8, '\x16');

// A front-end stand-in: listens, and hands out the connection the channel makes.
struct PeerListener {
  kst::KstSocket listener = kst::TcpListenLoopback(0, 4);
  int Port() const { return listener.LocalPort(); }
  kst::KstSocket AcceptOne() {
    if (!listener.WaitReadable(3000)) return kst::KstSocket();
    return kst::Accept(listener);
  }
};

TEST(SocketChannelTest, HeartbeatAloneIsDroppedButInsideDataIsHandedOn) {
  PeerListener peer;
  RecordingChannel channel(60s);
  ASSERT_NE(channel.Connect(peer.Port()), nullptr);
  kst::KstSocket socket = peer.AcceptOne();
  ASSERT_TRUE(socket.Valid());

  ASSERT_TRUE(socket.SendAll(kHeartbeat.data(), kHeartbeat.size()));
  std::this_thread::sleep_for(200ms);
  std::string data = kHeartbeat + "payload";
  ASSERT_TRUE(socket.SendAll(data.data(), data.size()));
  ASSERT_TRUE(channel.WaitBytes(data.size()));
  EXPECT_EQ(channel.Bytes(), data);
}

TEST(SocketChannelTest, LostConnectionIsReportedExactlyOnce) {
  PeerListener peer;
  RecordingChannel channel(60s);
  ASSERT_NE(channel.Connect(peer.Port()), nullptr);
  {
    kst::KstSocket socket = peer.AcceptOne();
    ASSERT_TRUE(socket.Valid());
  }
  ASSERT_TRUE(channel.WaitLoss());
  std::this_thread::sleep_for(1500ms);  // several more receive passes
  EXPECT_EQ(channel.Losses(), 1);
  EXPECT_FALSE(channel.HasConnections());
}

TEST(SocketChannelTest, ConnectFailureRaisesALogEvent) {
  int free_port = kst::IPCChannel::ProbePort();
  ASSERT_GT(free_port, 0);
  std::vector<std::string> logs;  // outlives the channel, whose threads write to it
  RecordingChannel channel(60s);
  channel.SetEventCallback([&logs](const kst::IPCEvent& event) {
    if (event.kind == kst::kIPCEventLog) logs.emplace_back(event.text);
    return 0;
  });
  EXPECT_EQ(channel.Connect(free_port), nullptr);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].rfind("connect error: ", 0), 0u);
}

TEST(SocketChannelTest, IdleOutgoingConnectionGetsHeartbeatsUnlessTheCallbackSuppressesThem) {
  PeerListener peer;
  std::atomic<int> timer_events{0};
  std::atomic<bool> suppress{true};
  RecordingChannel channel(100ms);
  channel.SetEventCallback([&](const kst::IPCEvent& event) {
    if (event.kind == kst::kIPCEventHeartbeatTimer) ++timer_events;
    if (event.kind == kst::kIPCEventHeartbeatDue) return suppress.load() ? 1 : 0;
    return 0;
  });
  ASSERT_NE(channel.Connect(peer.Port()), nullptr);
  kst::KstSocket socket = peer.AcceptOne();
  ASSERT_TRUE(socket.Valid());

  EXPECT_FALSE(socket.WaitReadable(400));  // due, but suppressed
  EXPECT_GE(timer_events.load(), 2);
  suppress = false;
  ASSERT_TRUE(socket.WaitReadable(1000));
  char received[8];
  ASSERT_TRUE(socket.RecvAll(received, sizeof(received)));
  EXPECT_EQ(std::string(received, 8), kHeartbeat);
}

TEST(SocketChannelTest, AcceptedConnectionsNeverSendHeartbeats) {
  // Declared before the channel so that they outlive its threads.
  std::vector<int> kinds;
  std::vector<std::string> logs;
  std::mutex mutex;
  RecordingChannel channel(50ms);
  channel.SetEventCallback([&](const kst::IPCEvent& event) {
    std::lock_guard<std::mutex> lock(mutex);
    kinds.push_back(event.kind);
    if (event.kind == kst::kIPCEventLog) logs.emplace_back(event.text);
    return 0;
  });
  kst::IPCListen* listen = channel.Listen(0);
  ASSERT_NE(listen, nullptr);
  kst::KstSocket socket = kst::TcpConnectLoopback(static_cast<uint16_t>(listen->port));
  ASSERT_TRUE(socket.Valid());
  EXPECT_FALSE(socket.WaitReadable(400));
  std::string hello = "hello";
  socket.SendAll(hello.data(), hello.size());
  ASSERT_TRUE(channel.WaitBytes(hello.size()));
  auto connections = channel.Connections();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0]->role, kst::kIPCRoleAccepted);
  EXPECT_EQ(connections[0]->port, listen->port);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(kinds.front(), kst::kIPCEventAccepting);
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), kst::kIPCEventAccepted), kinds.end());
  EXPECT_NE(std::find(logs.begin(), logs.end(), "Set SO_KEEPALIVE: ON"), logs.end());
}

// Collects packets from the packet channel's dispatch thread.
struct PacketSink {
  std::mutex mutex;
  std::condition_variable signal;
  std::vector<kst::IPCPacketPtr> packets;
  int Take(kst::IPCPacket* packet) {
    std::lock_guard<std::mutex> lock(mutex);
    packets.emplace_back(packet);
    signal.notify_all();
    return 0;
  }
  bool WaitCount(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return signal.wait_for(lock, 3s, [&] { return packets.size() >= count; });
  }
};

TEST(PacketChannelTest, PacketsArriveInOrderAndLossArrivesAsAnAllZeroPacket) {
  PeerListener peer;
  PacketSink sink;
  kst::IPCPacketChannel channel(60s);
  channel.SetReceiveCallback([&sink](kst::IPCPacket* packet) { return sink.Take(packet); });
  kst::IPCConnection* connection = channel.Connect(peer.Port());
  ASSERT_NE(connection, nullptr);
  {
    kst::KstSocket socket = peer.AcceptOne();
    std::string stream;
    for (uint64_t task = 1; task <= 50; ++task) stream += MakePacket(task, 600, std::string(task * 100, 'p'));
    ASSERT_TRUE(socket.SendAll(stream.data(), stream.size()));
    ASSERT_TRUE(sink.WaitCount(50));
  }
  ASSERT_TRUE(sink.WaitCount(51));
  for (uint64_t task = 1; task <= 50; ++task) {
    EXPECT_EQ(sink.packets[task - 1]->task_id, task);
    EXPECT_EQ(sink.packets[task - 1]->length, task * 100);
    EXPECT_EQ(sink.packets[task - 1]->connection, connection);
  }
  const kst::IPCPacket& lost = *sink.packets[50];
  EXPECT_EQ(lost.task_id, 0u);
  EXPECT_EQ(lost.command, 0u);
  EXPECT_EQ(lost.payload, nullptr);
  EXPECT_EQ(lost.connection, connection);
}

TEST(PacketChannelTest, SentPacketCarriesTextThenAttachment) {
  PeerListener peer;
  kst::IPCPacketChannel channel(60s);
  kst::IPCConnection* connection = channel.Connect(peer.Port());
  ASSERT_NE(connection, nullptr);
  kst::KstSocket socket = peer.AcceptOne();
  std::string text("1\0{}\0", 5);
  std::string attachment(100000, 'a');
  kst::IPCOutPacket out;
  out.task_id = 42;
  out.status = 2;
  out.command = 300;
  out.data = text.data();
  out.text_length = static_cast<uint16_t>(text.size());
  out.attachment_length = static_cast<uint32_t>(attachment.size());
  out.connection = connection;
  ASSERT_TRUE(channel.SendPacketWithAttachment(out, reinterpret_cast<const uint8_t*>(attachment.data())));
  std::string expected = MakePacket(42, 300, text + attachment, 2);
  std::string received(expected.size(), '\0');
  ASSERT_TRUE(socket.RecvAll(received.data(), received.size()));
  EXPECT_EQ(received, expected);
}

}  // namespace
