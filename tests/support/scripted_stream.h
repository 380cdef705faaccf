// An in-memory service connection for tests: each receive call hands out at most the rest of the
// next scripted piece (and at most `max_piece` bytes when set); everything sent is kept.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "iOSAPI/kor_service_message.h"

struct ScriptedStream {
  std::deque<std::string> pieces;
  size_t max_piece = 0;
  std::string sent;

  KorServiceIo Io() {
    KorServiceIo io;
    io.send = [this](const void* bytes, size_t length) {
      sent.append(static_cast<const char*>(bytes), length);
      return static_cast<int64_t>(length);
    };
    io.receive = [this](void* buffer, size_t length) -> int64_t {
      while (!pieces.empty() && pieces.front().empty()) pieces.pop_front();
      if (pieces.empty()) return 0;
      size_t count = std::min(length, pieces.front().size());
      if (max_piece != 0) count = std::min(count, max_piece);
      std::memcpy(buffer, pieces.front().data(), count);
      pieces.front().erase(0, count);
      return static_cast<int64_t>(count);
    };
    return io;
  }
};
