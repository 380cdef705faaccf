#include "afc_protocol.h"

#include <cstring>

#include "byte_order.h"

namespace vdevice {

namespace {

constexpr char kAfcMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};

}  // namespace

bool DecodeAfcHeader(const uint8_t* bytes, AfcHeader* header, std::string* error) {
  if (std::memcmp(bytes, kAfcMagic, sizeof(kAfcMagic)) != 0) {
    *error = "packet does not start with CFA6LPAA";
    return false;
  }
  header->entire_length = LoadLittle(bytes + 8, 8);
  header->this_length = LoadLittle(bytes + 16, 8);
  header->packet_number = LoadLittle(bytes + 24, 8);
  header->operation = LoadLittle(bytes + 32, 8);
  if (header->this_length < kAfcHeaderSize || header->entire_length < header->this_length) {
    *error = "inconsistent lengths (entire " + std::to_string(header->entire_length) + ", this " +
             std::to_string(header->this_length) + ")";
    return false;
  }
  if (header->this_length - kAfcHeaderSize > kMaxAfcParameterBytes ||
      header->entire_length - header->this_length > kMaxAfcPayloadBytes) {
    *error = "packet of " + std::to_string(header->entire_length) + " bytes exceeds the limits";
    return false;
  }
  return true;
}

void EncodeAfcHeader(const AfcHeader& header, uint8_t* bytes) {
  std::memcpy(bytes, kAfcMagic, sizeof(kAfcMagic));
  StoreLittle(bytes + 8, 8, header.entire_length);
  StoreLittle(bytes + 16, 8, header.this_length);
  StoreLittle(bytes + 24, 8, header.packet_number);
  StoreLittle(bytes + 32, 8, header.operation);
}

AfcReadStatus ReadAfcRequest(ServiceStream& stream, AfcRequest* request, std::string* error) {
  uint8_t raw[kAfcHeaderSize];
  if (!stream.ReadExact(raw, sizeof(raw))) return AfcReadStatus::kClosed;
  if (!DecodeAfcHeader(raw, &request->header, error)) return AfcReadStatus::kMalformed;
  request->parameters.resize(request->header.this_length - kAfcHeaderSize);
  request->payload.resize(request->header.entire_length - request->header.this_length);
  if (!stream.ReadExact(request->parameters.data(), request->parameters.size()) ||
      !stream.ReadExact(request->payload.data(), request->payload.size())) {
    return AfcReadStatus::kClosed;
  }
  return AfcReadStatus::kRequest;
}

bool AfcParameters::ReadU64(uint64_t* value) {
  if (offset_ > bytes_.size() || bytes_.size() - offset_ < 8) return false;
  *value = LoadLittle(reinterpret_cast<const uint8_t*>(bytes_.data()) + offset_, 8);
  offset_ += 8;
  return true;
}

bool AfcParameters::ReadString(std::string* value) {
  if (offset_ >= bytes_.size()) return false;
  size_t end = bytes_.find('\0', offset_);
  if (end == std::string::npos) end = bytes_.size();
  value->assign(bytes_, offset_, end - offset_);
  offset_ = end + 1;
  return true;
}

bool SendAfcReply(ServiceStream& stream, uint64_t packet_number, uint64_t operation, const std::string& body) {
  AfcHeader header{kAfcHeaderSize + body.size(), kAfcHeaderSize + body.size(), packet_number, operation};
  uint8_t raw[kAfcHeaderSize];
  EncodeAfcHeader(header, raw);
  return stream.Send({{raw, sizeof(raw)}, {body.data(), body.size()}});
}

std::string EncodeAfcU64(uint64_t value) {
  std::string bytes(8, '\0');
  StoreLittle(reinterpret_cast<uint8_t*>(bytes.data()), 8, value);
  return bytes;
}

bool SendAfcStatus(ServiceStream& stream, uint64_t packet_number, uint64_t status) {
  return SendAfcReply(stream, packet_number, kAfcStatus, EncodeAfcU64(status));
}

bool SendAfcData(ServiceStream& stream, uint64_t packet_number, const char* data, size_t length) {
  AfcHeader header{kAfcHeaderSize + length, kAfcHeaderSize, packet_number, kAfcData};
  uint8_t raw[kAfcHeaderSize];
  EncodeAfcHeader(header, raw);
  return stream.Send({{raw, sizeof(raw)}, {data, length}});
}

std::string EncodeAfcPairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string bytes;
  for (const auto& [key, value] : pairs) {
    bytes.append(key).push_back('\0');
    bytes.append(value).push_back('\0');
  }
  return bytes;
}

std::string EncodeAfcNames(const std::vector<std::string>& names) {
  std::string bytes;
  for (const std::string& name : names) bytes.append(name).push_back('\0');
  return bytes;
}

}  // namespace vdevice
