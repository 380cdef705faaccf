// Small numbers that name front-end connections in the 32-bit "code" of relayed messages.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace kst {
struct IPCConnection;
}

class KorConnectionTokens {
 public:
  static KorConnectionTokens& Get();
  // The connection's token (1, 2, ...), the same for every call with the same connection.
  int32_t TokenFor(kst::IPCConnection* connection);
  // The connection a token names, or null.
  kst::IPCConnection* Find(int64_t token);

 private:
  KorConnectionTokens() = default;
  std::mutex mutex_;
  std::map<kst::IPCConnection*, int32_t> tokens_;
  std::map<int32_t, kst::IPCConnection*> connections_;
  int32_t next_ = 1;
};
