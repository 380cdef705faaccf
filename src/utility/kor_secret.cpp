#include "utility/kor_secret.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

std::string KorNewSecret() {
  unsigned char bytes[32];
  if (RAND_bytes(bytes, sizeof(bytes)) != 1) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0f];
  }
  return text;
}

bool KorSecretsEqual(const std::string& a, const std::string& b) {
  return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}
