#include "mobiledevice/afc_connection.h"

#include <algorithm>

#include "mobiledevice/afc_reply_reader.h"

namespace devicefw::md {

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
  if (!DecodeAfcHeader(raw, &reply)) return Break(kAFCBadHeaderError);
  afc_error_t fault = CheckAfcReplyHeader(reply, request.packet_number, reply_operation, destination.capacity);
  if (fault != kAFCSuccess) return Break(fault);
  if (reply.operation == kAfcOpStatus) return ReceiveStatus(reply);
  return ReceiveBody(reply, destination);
}

afc_error_t AfcConnection::ExchangeMany(AfcOperation operation, size_t count, uint64_t reply_operation,
                                        uint64_t max_body, const RequestBuilder& build, const AnswerSink& answer) {
  std::lock_guard lock(mutex_);
  if (broken_) return kAFCNotConnectedError;
  try {
    return ExchangeManyLocked(operation, count, reply_operation, max_body, build, answer);
  } catch (...) {
    // Requests may be out without their replies read: nobody can use the stream after this.
    Break(kAFCNoResourcesError);
    throw;
  }
}

afc_error_t AfcConnection::ExchangeManyLocked(AfcOperation operation, size_t count, uint64_t reply_operation,
                                              uint64_t max_body, const RequestBuilder& build,
                                              const AnswerSink& answer) {
  AfcReplyReader reader(*channel_);
  const uint64_t first_packet = next_packet_;
  std::string requests;
  size_t sent = 0;
  for (size_t answered = 0; answered < count; ++answered) {
    // Refilled half a window at a time, so that one write carries many requests.
    if (sent < count && sent - answered <= kAfcPipelineWindow / 2) {
      requests.clear();
      for (const size_t until = std::min(count, answered + kAfcPipelineWindow); sent < until; ++sent) {
        AppendRequest(operation, sent, build, &requests);
      }
      if (!channel_->Send(requests.data(), requests.size())) return Break(kAFCNotConnectedError);
    }
    const AfcReplyFrame frame = reader.Next(first_packet + answered, reply_operation, max_body);
    if (frame.kind == AfcReplyFrame::kBroken) return Break(frame.status);
    answer(answered, frame.kind == AfcReplyFrame::kStatus ? frame.status : kAFCSuccess, frame.body, frame.body_length);
  }
  // Bytes nobody asked for put the stream out of step for whoever comes next.
  if (reader.Unread() > 0) Break(kAFCBadHeaderError);
  return kAFCSuccess;
}

void AfcConnection::AppendRequest(AfcOperation operation, size_t index, const RequestBuilder& build, std::string* out) {
  AfcParameters parameters;
  build(index, &parameters);
  AfcHeader request;
  request.this_length = kAfcHeaderSize + parameters.bytes().size();
  request.entire_length = request.this_length;
  request.packet_number = next_packet_++;
  request.operation = operation;
  const size_t at = out->size();
  out->resize(at + kAfcHeaderSize);
  EncodeAfcHeader(request, reinterpret_cast<uint8_t*>(out->data() + at));
  out->append(parameters.bytes());
}

afc_error_t AfcConnection::ReceiveStatus(const AfcHeader& header) {
  const uint64_t body_length = header.entire_length - kAfcHeaderSize;
  uint8_t body[kAfcMaxStatusBody];
  if (!channel_->ReceiveAll(body, body_length)) return Break(kAFCNotConnectedError);
  return AfcStatusError(body);
}

afc_error_t AfcConnection::ReceiveBody(const AfcHeader& header, const Destination& destination) {
  const uint64_t body_length = header.entire_length - kAfcHeaderSize;
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
