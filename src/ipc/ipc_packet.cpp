#include "ipc/ipc_packet.h"

#include <cstdlib>
#include <cstring>

namespace kst {

namespace {

template <typename T>
void PutLittle(uint8_t* out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

template <typename T>
T GetLittle(const uint8_t* in) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return static_cast<T>(value);
}

}  // namespace

void EncodePacketHeader(const PacketHeader& header, uint8_t out[kPacketHeaderSize]) {
  std::memcpy(out, kPacketMagic, sizeof(kPacketMagic));
  std::memcpy(out + 8, kPacketSync, sizeof(kPacketSync));
  PutLittle<uint64_t>(out + 14, header.task_id);
  PutLittle<uint32_t>(out + 22, header.command);
  PutLittle<uint16_t>(out + 26, header.status);
  PutLittle<uint64_t>(out + 28, header.length);
}

bool StartsWithMagic(const uint8_t* bytes, size_t size) {
  return size >= sizeof(kPacketMagic) && std::memcmp(bytes, kPacketMagic, sizeof(kPacketMagic)) == 0;
}

bool DecodePacketHeader(const uint8_t* bytes, size_t size, PacketHeader* out) {
  if (size < kPacketHeaderSize || !StartsWithMagic(bytes, size)) return false;
  out->task_id = GetLittle<uint64_t>(bytes + 14);
  out->command = GetLittle<uint32_t>(bytes + 22);
  out->status = GetLittle<uint16_t>(bytes + 26);
  out->length = GetLittle<uint64_t>(bytes + 28);
  return true;
}

IPCPacket* IPCPacketCreateLost(IPCConnection* connection) {
  auto* packet = static_cast<IPCPacket*>(std::calloc(1, sizeof(IPCPacket)));
  if (packet) packet->connection = connection;
  return packet;
}

IPCPacket* IPCPacketCreate(const PacketHeader& header, const uint8_t* payload, IPCConnection* connection) {
  auto* packet = static_cast<IPCPacket*>(std::calloc(1, sizeof(IPCPacket)));
  if (!packet) return nullptr;
  packet->task_id = header.task_id;
  packet->status = header.status;
  packet->command = header.command;
  packet->length = header.length;
  packet->connection = connection;
  if (header.length > 0) {
    packet->payload = static_cast<uint8_t*>(std::malloc(header.length + 1));
    if (!packet->payload) {
      std::free(packet);
      return nullptr;
    }
    std::memcpy(packet->payload, payload, header.length);
    packet->payload[header.length] = 0;
  }
  return packet;
}

IPCPacket* IPCPacketCopy(const IPCPacket* packet) {
  if (!packet) return nullptr;
  PacketHeader header{packet->task_id, packet->command, packet->status, packet->length};
  return IPCPacketCreate(header, packet->payload, packet->connection);
}

void IPCPacketFree(IPCPacket* packet) {
  if (!packet) return;
  std::free(packet->payload);
  std::free(packet);
}

void IPCPacketAssembler::Clear() {
  buffer_.clear();
  start_ = 0;
  expected_ = 0;
}

void IPCPacketAssembler::Consume(size_t count) {
  start_ += count;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
}

void IPCPacketAssembler::DeliverFront(const Deliver& deliver) {
  PacketHeader header;
  if (DecodePacketHeader(Front(), Buffered(), &header)) deliver(header, Front() + kPacketHeaderSize);
}

bool IPCPacketAssembler::SetExpectedFromFront() {
  PacketHeader header;
  DecodePacketHeader(Front(), Buffered(), &header);
  if (header.length > kMaxPacketPayload) {
    if (report_) report_("packet length " + std::to_string(header.length) + " exceeds the limit; stream dropped");
    Clear();
    return false;
  }
  // The buffer grows only with the bytes that arrive: a header alone may claim any length.
  expected_ = header.length + kPacketHeaderSize;
  return true;
}

void IPCPacketAssembler::DropStrayBytesIfTooMany() {
  if (Buffered() > kMaxStrayBytes && !StartsWithMagic(Front(), Buffered())) {
    if (report_) report_("dropped " + std::to_string(Buffered()) + " bytes that start no packet");
    Clear();
  }
}

void IPCPacketAssembler::Feed(const uint8_t* data, size_t length, const Deliver& deliver) {
  if (!data || length == 0) return;
  if (StartsWithMagic(data, length)) {
    // Only a packet that is whole by its own header is delivered before the restart.
    if (expected_ != 0 && Buffered() >= expected_ && StartsWithMagic(Front(), Buffered())) {
      PacketHeader header;
      if (DecodePacketHeader(Front(), Buffered(), &header) && header.length + kPacketHeaderSize == expected_) {
        DeliverFront(deliver);
      }
    }
    Clear();
    buffer_.assign(data, data + length);
    if (length < kPacketHeaderSize) return;
  } else {
    buffer_.insert(buffer_.end(), data, data + length);
    if (Buffered() < kPacketHeaderSize || !StartsWithMagic(Front(), Buffered())) {
      DropStrayBytesIfTooMany();
      return;
    }
  }
  if (!SetExpectedFromFront()) return;
  Extract(deliver);
}

void IPCPacketAssembler::Extract(const Deliver& deliver) {
  while (Buffered() >= expected_) {
    if (!StartsWithMagic(Front(), Buffered())) {
      Clear();
      return;
    }
    DeliverFront(deliver);
    Consume(static_cast<size_t>(expected_));
    if (Buffered() == 0) {
      expected_ = 0;
      return;
    }
    if (!StartsWithMagic(Front(), Buffered()) || Buffered() < kPacketHeaderSize) return;
    if (!SetExpectedFromFront()) return;
  }
}

}  // namespace kst
