#include "utility/module/connect/kor_connection_tokens.h"

KorConnectionTokens& KorConnectionTokens::Get() {
  static KorConnectionTokens* tokens = new KorConnectionTokens();
  return *tokens;
}

int32_t KorConnectionTokens::TokenFor(kst::IPCConnection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = tokens_.find(connection);
  if (found != tokens_.end()) return found->second;
  int32_t token = next_++;
  tokens_[connection] = token;
  connections_[token] = connection;
  return token;
}

kst::IPCConnection* KorConnectionTokens::Find(int64_t token) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (token < INT32_MIN || token > INT32_MAX) return nullptr;
  auto found = connections_.find(static_cast<int32_t>(token));
  return found == connections_.end() ? nullptr : found->second;
}
