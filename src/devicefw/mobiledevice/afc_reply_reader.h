// Replies of pipelined AFC requests, read through one buffer: on a plain socket a single read
// brings in as many replies as have arrived, so a window of requests in flight costs few reads.
// Every reply is checked before it is used: magic, consistent lengths, the packet number of the
// request it must answer, an expected operation and a bounded body. Anything else leaves the
// stream out of step, and the reader reports it as broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "mobiledevice/afc_wire.h"

namespace devicefw::md {

class ServiceChannel;

// A status reply carries one 64-bit number; anything much longer is not a status.
inline constexpr uint64_t kAfcMaxStatusBody = 4096;

// What the bytes at the front of a receive buffer hold.
struct AfcReplyFrame {
  enum Kind { kIncomplete, kStatus, kBody, kBroken };
  Kind kind = kIncomplete;
  // kIncomplete: the bytes needed before the reply can be judged; otherwise the bytes it takes.
  size_t size = 0;
  afc_error_t status = kAFCSuccess;  // kStatus: the device's error number; kBroken: the fault
  const uint8_t* body = nullptr;     // kBody: parameters and payload of the reply
  size_t body_length = 0;
};

// 0 when `header` may be the reply to request `packet_number`, which expects `reply_operation` with
// a body of at most `max_body` bytes, or a status; otherwise the error that breaks the stream.
afc_error_t CheckAfcReplyHeader(const AfcHeader& header, uint64_t packet_number, uint64_t reply_operation,
                                uint64_t max_body);
// The error number a status reply's body carries (at least 8 bytes).
afc_error_t AfcStatusError(const uint8_t* body);

// Judges the reply at the front of `bytes` as the answer to request `packet_number`, which expects
// a reply of `reply_operation` with a body of at most `max_body` bytes (or a status).
AfcReplyFrame FrameAfcReply(const uint8_t* bytes, size_t length, uint64_t packet_number, uint64_t reply_operation,
                            uint64_t max_body);

class AfcReplyReader {
 public:
  explicit AfcReplyReader(ServiceChannel& channel) : channel_(channel) {}

  // Waits for the next reply and judges it as above. A kStatus or kBody frame points into the
  // buffer and stays valid until the next call. kBroken carries the error in `status`: the reader
  // cannot go on, and the stream is out of step.
  AfcReplyFrame Next(uint64_t packet_number, uint64_t reply_operation, uint64_t max_body);
  // Bytes received beyond the replies handed out so far (an honest device sends none unasked).
  size_t Unread() const { return end_ - start_; }

 private:
  // Waits until at least `wanted` unread bytes are buffered; false when the stream failed.
  bool Fill(size_t wanted);

  ServiceChannel& channel_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last received byte
};

}  // namespace devicefw::md
