#include "ipc/ipc_packet_channel.h"

#include "platform/kst_log.h"

namespace kst {

IPCPacketChannel::IPCPacketChannel(std::chrono::milliseconds heartbeat_interval)
    : IPCChannel(heartbeat_interval) {
  dispatch_thread_ = std::thread([this] { DispatchLoop(); });
}

IPCPacketChannel::~IPCPacketChannel() { IPCPacketChannel::Close(); }

void IPCPacketChannel::Close() {
  // Sockets and the receive thread first, so that nothing is queued after the dispatch stops.
  IPCChannel::Close();
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    dispatch_stop_ = true;
  }
  queue_signal_.notify_all();
  if (dispatch_thread_.joinable() && dispatch_thread_.get_id() != std::this_thread::get_id()) {
    dispatch_thread_.join();
  }
  std::lock_guard<std::mutex> lock(queue_mutex_);
  for (IPCPacket* packet : queue_) IPCPacketFree(packet);
  queue_.clear();
}

void IPCPacketChannel::Enqueue(IPCPacket* packet) {
  if (!packet) return;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back(packet);
  }
  queue_signal_.notify_one();
}

void IPCPacketChannel::Receive(IPCConnection* connection, const uint8_t* data, size_t length) {
  if (!data) {
    assemblers_.erase(connection);
    Enqueue(IPCPacketCreateLost(connection));
    return;
  }
  auto found = assemblers_.find(connection);
  if (found == assemblers_.end()) {
    found = assemblers_
                .emplace(connection, IPCPacketAssembler([this, connection](const std::string& text) {
                  RaiseLog(connection, text);
                }))
                .first;
  }
  found->second.Feed(data, length, [this, connection](const PacketHeader& header, const uint8_t* payload) {
    IPCPacket* packet = IPCPacketCreate(header, payload, connection);
    if (!packet) {
      RaiseLog(connection, "out of memory for a packet of " + std::to_string(header.length) + " bytes; dropped");
      return;
    }
    Enqueue(packet);
  });
}

void IPCPacketChannel::DispatchLoop() {
  for (;;) {
    IPCPacket* packet = nullptr;
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      queue_signal_.wait(lock, [this] { return dispatch_stop_ || !queue_.empty(); });
      if (dispatch_stop_) return;
      packet = queue_.front();
      queue_.pop_front();
    }
    if (receive_callback_) {
      receive_callback_(packet);
    } else {
      IPCPacketFree(packet);
    }
  }
}

namespace {

std::vector<uint8_t> Header(uint64_t task_id, uint32_t command, uint16_t status, uint64_t length) {
  std::vector<uint8_t> header(kPacketHeaderSize);
  EncodePacketHeader(PacketHeader{task_id, command, status, length}, header.data());
  return header;
}

}  // namespace

bool IPCPacketChannel::SendPacket(const IPCOutPacket& packet) {
  auto header = Header(packet.task_id, packet.command, packet.status,
                       static_cast<uint64_t>(packet.text_length) + packet.attachment_length);
  return SendParts(packet.connection, {{header.data(), header.size()}, {packet.data, packet.text_length}});
}

bool IPCPacketChannel::SendPacketWithAttachment(const IPCOutPacket& packet, const uint8_t* attachment) {
  auto header = Header(packet.task_id, packet.command, packet.status,
                       static_cast<uint64_t>(packet.text_length) + packet.attachment_length);
  return SendParts(packet.connection, {{header.data(), header.size()},
                                       {packet.data, packet.text_length},
                                       {attachment, attachment ? packet.attachment_length : 0}});
}

bool IPCPacketChannel::SendRawPacket(const IPCPacket& packet, IPCConnection* connection) {
  auto header = Header(packet.task_id, packet.command, packet.status, packet.length);
  return SendParts(connection, {{header.data(), header.size()},
                                {packet.payload, packet.payload ? static_cast<size_t>(packet.length) : 0}});
}

}  // namespace kst
