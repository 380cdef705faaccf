// Packets over the socket channel: reassembly of received bytes into packets, a queue, and a
// dispatch thread that hands the packets on one at a time in the order they were completed.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "ipc/ipc_channel.h"
#include "ipc/ipc_packet.h"

namespace kst {

// An outgoing packet: the message text goes with the header; an attachment may follow it.
struct IPCOutPacket {
  uint64_t task_id = 0;
  uint16_t status = 0;
  uint32_t command = 0;
  const char* data = nullptr;  // the message text
  uint16_t text_length = 0;
  uint32_t attachment_length = 0;
  IPCConnection* connection = nullptr;
};

class IPCPacketChannel : public IPCChannel {
 public:
  // Takes ownership of the packet (free it with IPCPacketFree); the result is ignored.
  using ReceiveCallback = std::function<int(IPCPacket*)>;

  explicit IPCPacketChannel(std::chrono::milliseconds heartbeat_interval = kDefaultHeartbeatInterval);
  ~IPCPacketChannel() override;

  void Close() override;
  void Receive(IPCConnection* connection, const uint8_t* data, size_t length) override;

  // Set before the first connection exists.
  void SetReceiveCallback(ReceiveCallback callback) { receive_callback_ = std::move(callback); }

  // Header and text in one write; the caller sends the attachment right after while holding its
  // own send lock. Prefer SendPacketWithAttachment, which keeps both under the connection's lock.
  bool SendPacket(const IPCOutPacket& packet);
  bool SendPacketWithAttachment(const IPCOutPacket& packet, const uint8_t* attachment);
  // Passes a received packet on unchanged.
  bool SendRawPacket(const IPCPacket& packet, IPCConnection* connection);

 private:
  void DispatchLoop();
  void Enqueue(IPCPacket* packet);

  ReceiveCallback receive_callback_;
  std::mutex queue_mutex_;
  std::condition_variable queue_signal_;
  std::deque<IPCPacket*> queue_;
  bool dispatch_stop_ = false;
  // Touched only by the receive thread.
  std::map<IPCConnection*, IPCPacketAssembler> assemblers_;
  std::thread dispatch_thread_;
};

}  // namespace kst
