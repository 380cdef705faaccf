#include "mobiledevice/afc_wire.h"

#include <cstring>

namespace devicefw::md {
namespace {

constexpr char kAfcMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};

void WriteLittleEndian64(uint64_t value, uint8_t* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint64_t ReadLittleEndian64(const uint8_t* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

void EncodeAfcHeader(const AfcHeader& header, uint8_t* out) {
  std::memcpy(out, kAfcMagic, sizeof(kAfcMagic));
  WriteLittleEndian64(header.entire_length, out + 8);
  WriteLittleEndian64(header.this_length, out + 16);
  WriteLittleEndian64(header.packet_number, out + 24);
  WriteLittleEndian64(header.operation, out + 32);
}

bool DecodeAfcHeader(const uint8_t* bytes, AfcHeader* header) {
  if (std::memcmp(bytes, kAfcMagic, sizeof(kAfcMagic)) != 0) return false;
  header->entire_length = ReadLittleEndian64(bytes + 8);
  header->this_length = ReadLittleEndian64(bytes + 16);
  header->packet_number = ReadLittleEndian64(bytes + 24);
  header->operation = ReadLittleEndian64(bytes + 32);
  return header->this_length >= kAfcHeaderSize && header->entire_length >= header->this_length;
}

AfcParameters& AfcParameters::U64(uint64_t value) {
  uint8_t bytes[8];
  WriteLittleEndian64(value, bytes);
  bytes_.append(reinterpret_cast<const char*>(bytes), sizeof(bytes));
  return *this;
}

AfcParameters& AfcParameters::Text(std::string_view text) {
  bytes_.append(text);
  bytes_.push_back('\0');
  return *this;
}

std::vector<std::string> SplitZeroTerminated(const uint8_t* body, size_t length) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < length) {
    const void* zero = std::memchr(body + start, 0, length - start);
    const size_t end = zero == nullptr ? length : static_cast<size_t>(static_cast<const uint8_t*>(zero) - body);
    pieces.emplace_back(reinterpret_cast<const char*>(body) + start, end - start);
    start = end + 1;
  }
  return pieces;
}

std::vector<std::string> SplitZeroTerminated(const std::vector<uint8_t>& body) {
  return SplitZeroTerminated(body.data(), body.size());
}

}  // namespace devicefw::md
