// Packets of the front-end link: the 36-byte header, the received-packet record, and the
// reassembly of a connection's byte stream into whole packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kst {

struct IPCConnection;

constexpr size_t kPacketHeaderSize = 36;
// Eight bytes of 0x16 keep an idle connection alive; they travel between packets.
constexpr size_t kHeartbeatSize = 8;
constexpr uint8_t kHeartbeatByte = 0x16;
constexpr char kPacketMagic[8] = {'k', 'C', 'o', 'm', 'm', 'a', 'n', 'd'};
constexpr uint8_t kPacketSync[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
// Larger claimed payloads are treated as a broken stream rather than buffered.
constexpr uint64_t kMaxPacketPayload = 256ull * 1024 * 1024;
// Bytes that do not start a packet are kept at most this long before they are dropped.
constexpr size_t kMaxStrayBytes = 1024 * 1024;

struct PacketHeader {
  uint64_t task_id = 0;
  uint32_t command = 0;
  uint16_t status = 0;
  uint64_t length = 0;
};

void EncodePacketHeader(const PacketHeader& header, uint8_t out[kPacketHeaderSize]);
// Reads a header; false when the bytes do not start with the magic.
bool DecodePacketHeader(const uint8_t* bytes, size_t size, PacketHeader* out);
bool StartsWithMagic(const uint8_t* bytes, size_t size);

// A received packet. Made with malloc, freed with IPCPacketFree by whoever consumes it.
struct IPCPacket {
  uint64_t task_id;
  uint16_t status;
  uint32_t command;
  uint8_t* payload;  // length + 1 bytes, the last one 0x00; null when the length is 0
  uint64_t length;
  IPCConnection* connection;
};

// A packet with every field 0 except the connection: the connection was lost.
IPCPacket* IPCPacketCreateLost(IPCConnection* connection);
// Copies the payload; null when memory runs out.
IPCPacket* IPCPacketCreate(const PacketHeader& header, const uint8_t* payload, IPCConnection* connection);
IPCPacket* IPCPacketCopy(const IPCPacket* packet);
void IPCPacketFree(IPCPacket* packet);

struct IPCPacketDeleter {
  void operator()(IPCPacket* packet) const { IPCPacketFree(packet); }
};
using IPCPacketPtr = std::unique_ptr<IPCPacket, IPCPacketDeleter>;

// Cuts one connection's chunks into packets. A chunk that begins with the magic always restarts
// the connection's state: an incomplete packet before it is dropped.
class IPCPacketAssembler {
 public:
  using Deliver = std::function<void(const PacketHeader& header, const uint8_t* payload)>;
  using Report = std::function<void(const std::string& text)>;

  explicit IPCPacketAssembler(Report report = nullptr) : report_(std::move(report)) {}

  void Feed(const uint8_t* data, size_t length, const Deliver& deliver);
  size_t Buffered() const { return buffer_.size() - start_; }

 private:
  const uint8_t* Front() const { return buffer_.data() + start_; }
  void Clear();
  void Consume(size_t count);
  void DeliverFront(const Deliver& deliver);
  bool SetExpectedFromFront();
  void Extract(const Deliver& deliver);
  void DropStrayBytesIfTooMany();

  Report report_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;     // bytes before this offset were already delivered
  uint64_t expected_ = 0;  // size of the packet at the front, header included; 0 = unknown
};

}  // namespace kst
