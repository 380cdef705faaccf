// The fuzzer's input as a service connection's byte stream that arrives in arbitrary pieces: the
// byte at the read position picks how much of the stream one receive call delivers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "iOSAPI/kor_service_message.h"

inline KorServiceIo FuzzStreamIo(const uint8_t* data, size_t size, size_t* offset) {
  KorServiceIo io;
  io.send = [](const void*, size_t length) { return static_cast<int64_t>(length); };
  io.receive = [data, size, offset](void* buffer, size_t wanted) -> int64_t {
    if (*offset >= size) return 0;
    size_t piece = std::min<size_t>({wanted, size - *offset, 1 + data[*offset] % 64u});
    std::memcpy(buffer, data + *offset, piece);
    *offset += piece;
    return static_cast<int64_t>(piece);
  };
  return io;
}
