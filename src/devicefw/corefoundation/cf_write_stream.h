// A write stream onto memory (CFWriteStreamCreateWithAllocatedBuffers): bytes written while it is
// open are collected and handed out as CFData through kCFStreamPropertyDataWritten.
#pragma once

#include <vector>

#include "corefoundation/cf_object.h"

namespace devicefw::cf {

class CfWriteStream final : public CfObject {
 public:
  static constexpr CFTypeID kTypeId = kCFTypeIDWriteStream;
  enum class State { kNotOpen, kOpen, kClosed };

  CfWriteStream() : CfObject(kTypeId) {}
  State state() const { return state_; }
  bool Open();
  void Close() { state_ = State::kClosed; }
  // False unless the stream is open.
  bool Write(const UInt8* bytes, size_t length);
  const std::vector<UInt8>& written() const { return written_; }

 private:
  State state_ = State::kNotOpen;
  std::vector<UInt8> written_;
};

}  // namespace devicefw::cf
