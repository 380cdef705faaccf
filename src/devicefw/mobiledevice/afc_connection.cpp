#include "mobiledevice/afc_connection.h"

#include <limits>

namespace devicefw::md {
namespace {

// A status reply carries one 64-bit number; anything much longer is not a status.
constexpr uint64_t kMaxStatusBody = 4096;

afc_error_t ErrorFromStatus(uint64_t status) {
  return status > static_cast<uint64_t>(std::numeric_limits<afc_error_t>::max()) ? kAFCUndefinedError
                                                                                   : static_cast<afc_error_t>(status);
}

}  // namespace

afc_error_t AfcConnection::Break(afc_error_t error) {
  broken_ = true;
  channel_->Shutdown();
  return error;
}

afc_error_t AfcConnection::Exchange(AfcOperation operation, const AfcParameters& parameters, uint64_t reply_operation,
                                    std::vector<uint8_t>* body, const uint8_t* payload, size_t payload_length) {
  std::vector<uint8_t> ignored;
  std::vector<uint8_t>* target = body != nullptr ? body : &ignored;
  target->clear();
  size_t length = 0;
  const Destination destination{nullptr, kAfcMaxReplyBody, target, &length};
  std::lock_guard lock(mutex_);
  return ExchangeLocked(operation, parameters.bytes(), payload, payload_length, reply_operation, destination);
}

afc_error_t AfcConnection::ReadPiece(uint64_t file, uint8_t* buffer, size_t wanted, size_t* got) {
  *got = 0;
  AfcParameters parameters;
  parameters.U64(file).U64(wanted);
  const Destination destination{buffer, wanted, nullptr, got};
  std::lock_guard lock(mutex_);
  return ExchangeLocked(kAfcOpFileRead, parameters.bytes(), nullptr, 0, kAfcOpData, destination);
}

afc_error_t AfcConnection::ExchangeLocked(AfcOperation operation, const std::string& parameters, const uint8_t* payload,
                                          size_t payload_length, uint64_t reply_operation,
                                          const Destination& destination) {
  if (broken_) return kAFCNotConnectedError;
  AfcHeader request;
  request.this_length = kAfcHeaderSize + parameters.size();
  request.entire_length = request.this_length + payload_length;
  request.packet_number = next_packet_++;
  request.operation = operation;
  std::string head(kAfcHeaderSize, '\0');
  EncodeAfcHeader(request, reinterpret_cast<uint8_t*>(head.data()));
  head += parameters;
  if (!channel_->Send(head.data(), head.size(), payload, payload_length)) return Break(kAFCNotConnectedError);

  uint8_t raw[kAfcHeaderSize];
  if (!channel_->ReceiveAll(raw, sizeof(raw))) return Break(kAFCNotConnectedError);
  AfcHeader reply;
  if (!DecodeAfcHeader(raw, &reply) || reply.packet_number != request.packet_number) return Break(kAFCBadHeaderError);
  if (reply.operation == kAfcOpStatus) return ReceiveStatus(reply);
  if (reply.operation != reply_operation) return Break(kAFCUnknownPacketError);
  return ReceiveBody(reply, destination);
}

afc_error_t AfcConnection::ReceiveStatus(const AfcHeader& header) {
  const uint64_t body_length = header.entire_length - kAfcHeaderSize;
  if (body_length < 8 || body_length > kMaxStatusBody) return Break(kAFCBadHeaderError);
  uint8_t body[kMaxStatusBody];
  if (!channel_->ReceiveAll(body, body_length)) return Break(kAFCNotConnectedError);
  return ErrorFromStatus(ReadLittleEndian64(body));
}

afc_error_t AfcConnection::ReceiveBody(const AfcHeader& header, const Destination& destination) {
  const uint64_t body_length = header.entire_length - kAfcHeaderSize;
  if (body_length > destination.capacity) return Break(kAFCOverrunError);
  uint8_t* target = destination.bytes;
  if (target == nullptr) {
    destination.vector->resize(body_length);
    target = destination.vector->data();
  }
  if (body_length > 0 && !channel_->ReceiveAll(target, body_length)) return Break(kAFCNotConnectedError);
  *destination.length = body_length;
  return kAFCSuccess;
}

}  // namespace devicefw::md
