#include "mobiledevice/afc_reply_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "mobiledevice/service_channel.h"

namespace devicefw::md {
namespace {

// Room for many small replies per read; grown only for a longer (still bounded) reply.
constexpr size_t kReaderCapacity = 64 << 10;

AfcReplyFrame Broken(afc_error_t error) {
  AfcReplyFrame frame;
  frame.kind = AfcReplyFrame::kBroken;
  frame.status = error;
  return frame;
}

AfcReplyFrame Incomplete(size_t needed) {
  AfcReplyFrame frame;
  frame.size = needed;
  return frame;
}

}  // namespace

afc_error_t CheckAfcReplyHeader(const AfcHeader& header, uint64_t packet_number, uint64_t reply_operation,
                                uint64_t max_body) {
  if (header.packet_number != packet_number) return kAFCBadHeaderError;
  const uint64_t body_length = header.entire_length - kAfcHeaderSize;
  if (header.operation == kAfcOpStatus) {
    return body_length < 8 || body_length > kAfcMaxStatusBody ? kAFCBadHeaderError : kAFCSuccess;
  }
  if (header.operation != reply_operation) return kAFCUnknownPacketError;
  return body_length > max_body ? kAFCOverrunError : kAFCSuccess;
}

afc_error_t AfcStatusError(const uint8_t* body) {
  const uint64_t status = ReadLittleEndian64(body);
  return status > static_cast<uint64_t>(std::numeric_limits<afc_error_t>::max()) ? kAFCUndefinedError
                                                                                   : static_cast<afc_error_t>(status);
}

AfcReplyFrame FrameAfcReply(const uint8_t* bytes, size_t length, uint64_t packet_number, uint64_t reply_operation,
                            uint64_t max_body) {
  if (length < kAfcHeaderSize) return Incomplete(kAfcHeaderSize);
  AfcHeader header;
  if (!DecodeAfcHeader(bytes, &header)) return Broken(kAFCBadHeaderError);
  if (afc_error_t error = CheckAfcReplyHeader(header, packet_number, reply_operation, max_body)) return Broken(error);
  // Both limits above keep the size far below what size_t holds.
  const auto size = static_cast<size_t>(header.entire_length);
  if (length < size) return Incomplete(size);
  AfcReplyFrame frame;
  frame.size = size;
  if (header.operation == kAfcOpStatus) {
    frame.kind = AfcReplyFrame::kStatus;
    frame.status = AfcStatusError(bytes + kAfcHeaderSize);
  } else {
    frame.kind = AfcReplyFrame::kBody;
    frame.body = bytes + kAfcHeaderSize;
    frame.body_length = size - kAfcHeaderSize;
  }
  return frame;
}

AfcReplyFrame AfcReplyReader::Next(uint64_t packet_number, uint64_t reply_operation, uint64_t max_body) {
  for (;;) {
    AfcReplyFrame frame =
        FrameAfcReply(buffer_.data() + start_, end_ - start_, packet_number, reply_operation, max_body);
    if (frame.kind != AfcReplyFrame::kIncomplete) {
      if (frame.kind != AfcReplyFrame::kBroken) start_ += frame.size;
      return frame;
    }
    if (!Fill(frame.size)) return Broken(kAFCNotConnectedError);
  }
}

bool AfcReplyReader::Fill(size_t wanted) {
  // Unread bytes move to the front, so the buffer only ever holds one reply beyond its capacity.
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (buffer_.size() < std::max(wanted, kReaderCapacity)) buffer_.resize(std::max(wanted, kReaderCapacity));
  while (end_ < wanted) {
    // Over SSL a read waits for everything it asks for, so it asks for no more than is due.
    if (channel_.ssl()) {
      if (!channel_.ReceiveAll(buffer_.data() + end_, wanted - end_)) return false;
      end_ = wanted;
      break;
    }
    const long got = channel_.ReceiveSome(buffer_.data() + end_, buffer_.size() - end_);
    if (got <= 0) return false;
    end_ += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace devicefw::md
