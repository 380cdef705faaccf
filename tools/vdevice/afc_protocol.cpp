#include "afc_protocol.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "byte_order.h"

namespace vdevice {

namespace {

constexpr char kAfcMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};
// Room for every request a host keeps in flight, and for the largest parameters a request may
// announce; larger payloads (file writes) are read past it.
constexpr size_t kRequestBufferBytes = (128 << 10) + kAfcHeaderSize;
// Replies gather up to this much before they are sent; larger data replies go out at once, from
// where they are.
constexpr size_t kGatheredReplyBytes = 64 << 10;

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

AfcRequestReader::AfcRequestReader(ServiceStream& stream)
    : stream_(stream), buffer_(new char[kRequestBufferBytes]) {}

bool AfcRequestReader::Fill(size_t wanted) {
  if (end_ - start_ >= wanted) return true;
  // What is left of a request moves to the front; whole requests never wait behind it.
  if (start_ + wanted > kRequestBufferBytes) {
    std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  while (end_ - start_ < wanted) {
    const long got = stream_.ReadSome(buffer_.get() + end_, kRequestBufferBytes - end_);
    if (got <= 0) return false;
    end_ += static_cast<size_t>(got);
  }
  return true;
}

bool AfcRequestReader::HasWholeRequest() const {
  if (end_ - start_ < kAfcHeaderSize) return false;
  AfcHeader header;
  std::string ignored;
  return DecodeAfcHeader(reinterpret_cast<const uint8_t*>(buffer_.get() + start_), &header, &ignored) &&
         header.entire_length <= end_ - start_;
}

AfcReadStatus AfcRequestReader::Next(AfcRequest* request, std::string* error) {
  if (!Fill(kAfcHeaderSize)) return AfcReadStatus::kClosed;
  if (!DecodeAfcHeader(reinterpret_cast<const uint8_t*>(buffer_.get() + start_), &request->header, error)) {
    return AfcReadStatus::kMalformed;
  }
  // The header's limits keep every length far below what size_t holds.
  const auto entire = static_cast<size_t>(request->header.entire_length);
  const auto with_parameters = static_cast<size_t>(request->header.this_length);
  if (entire > kRequestBufferBytes) return ReadLargePayload(request);
  if (!Fill(entire)) return AfcReadStatus::kClosed;
  const char* bytes = buffer_.get() + start_;
  request->parameters = std::string_view(bytes + kAfcHeaderSize, with_parameters - kAfcHeaderSize);
  request->payload = std::string_view(bytes + with_parameters, entire - with_parameters);
  start_ += entire;
  return AfcReadStatus::kRequest;
}

// The parameters still fit the buffer; the payload gets a buffer of its own, kept for the next
// large write and never cleared, since every byte of it is overwritten by what arrives.
AfcReadStatus AfcRequestReader::ReadLargePayload(AfcRequest* request) {
  const auto entire = static_cast<size_t>(request->header.entire_length);
  const auto with_parameters = static_cast<size_t>(request->header.this_length);
  if (!Fill(with_parameters)) return AfcReadStatus::kClosed;
  const char* bytes = buffer_.get() + start_;
  request->parameters = std::string_view(bytes + kAfcHeaderSize, with_parameters - kAfcHeaderSize);
  const size_t length = entire - with_parameters;
  if (payload_capacity_ < length) {
    payload_.reset(new char[length]);
    payload_capacity_ = length;
  }
  const size_t buffered = std::min(length, end_ - start_ - with_parameters);
  std::memcpy(payload_.get(), bytes + with_parameters, buffered);
  // Everything buffered is now used; the parameters stay where they are until the next request.
  start_ = end_;
  if (!stream_.ReadExact(payload_.get() + buffered, length - buffered)) return AfcReadStatus::kClosed;
  request->payload = std::string_view(payload_.get(), length);
  return AfcReadStatus::kRequest;
}

bool AfcParameters::ReadU64(uint64_t* value) {
  if (offset_ > bytes_.size() || bytes_.size() - offset_ < 8) return false;
  *value = LoadLittle(reinterpret_cast<const uint8_t*>(bytes_.data()) + offset_, 8);
  offset_ += 8;
  return true;
}

bool AfcParameters::ReadString(std::string_view* value) {
  if (offset_ >= bytes_.size()) return false;
  size_t end = bytes_.find('\0', offset_);
  if (end == std::string_view::npos) end = bytes_.size();
  *value = bytes_.substr(offset_, end - offset_);
  offset_ = end + 1;
  return true;
}

bool AfcParameters::ReadString(std::string* value) {
  std::string_view text;
  if (!ReadString(&text)) return false;
  value->assign(text);
  return true;
}

void AfcReplyWriter::AppendHeader(uint64_t packet_number, uint64_t operation, size_t this_length,
                                  size_t entire_length) {
  AfcHeader header{entire_length, this_length, packet_number, operation};
  const size_t at = pending_.size();
  pending_.resize(at + kAfcHeaderSize);
  EncodeAfcHeader(header, reinterpret_cast<uint8_t*>(pending_.data() + at));
}

bool AfcReplyWriter::Emit(uint64_t packet_number, uint64_t operation, std::string_view parameters,
                          std::string_view payload) {
  const size_t this_length = kAfcHeaderSize + parameters.size();
  AppendHeader(packet_number, operation, this_length, this_length + payload.size());
  if (parameters.size() + payload.size() <= kGatheredReplyBytes) {
    pending_.append(parameters).append(payload);
    return pending_.size() < kGatheredReplyBytes || Flush();
  }
  const bool sent = stream_.Send({{pending_.data(), pending_.size()},
                                  {parameters.data(), parameters.size()},
                                  {payload.data(), payload.size()}});
  pending_.clear();
  return sent;
}

bool AfcReplyWriter::Reply(uint64_t packet_number, uint64_t operation, std::string_view body) {
  return Emit(packet_number, operation, body, {});
}

bool AfcReplyWriter::Status(uint64_t packet_number, uint64_t status) {
  uint8_t number[8];
  StoreLittle(number, 8, status);
  return Reply(packet_number, kAfcStatus, std::string_view(reinterpret_cast<const char*>(number), sizeof(number)));
}

bool AfcReplyWriter::Data(uint64_t packet_number, const char* data, size_t length) {
  return Emit(packet_number, kAfcData, {}, std::string_view(data, length));
}

bool AfcReplyWriter::Flush() {
  if (pending_.empty()) return true;
  const bool sent = stream_.Send(pending_);
  pending_.clear();
  return sent;
}

std::string EncodeAfcU64(uint64_t value) {
  std::string bytes(8, '\0');
  StoreLittle(reinterpret_cast<uint8_t*>(bytes.data()), 8, value);
  return bytes;
}

void AppendAfcPair(std::string* out, std::string_view key, std::string_view value) {
  out->append(key).push_back('\0');
  out->append(value).push_back('\0');
}

void AppendAfcNumberPair(std::string* out, std::string_view key, int64_t value) {
  char digits[24];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), value);
  AppendAfcPair(out, key, std::string_view(digits, static_cast<size_t>(end.ptr - digits)));
}

std::string EncodeAfcPairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string bytes;
  for (const auto& pair : pairs) AppendAfcPair(&bytes, pair.first, pair.second);
  return bytes;
}

std::string EncodeAfcNames(const std::vector<std::string>& names) {
  std::string bytes;
  for (const std::string& name : names) bytes.append(name).push_back('\0');
  return bytes;
}

}  // namespace vdevice
