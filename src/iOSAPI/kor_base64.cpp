#include "iOSAPI/kor_base64.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace {

struct DecodeContextDeleter {
  void operator()(EVP_ENCODE_CTX* context) const { EVP_ENCODE_CTX_free(context); }
};

}  // namespace

bool KorBase64Decode(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text.size() > INT_MAX / 2) return false;
  std::unique_ptr<EVP_ENCODE_CTX, DecodeContextDeleter> context(EVP_ENCODE_CTX_new());
  if (!context) return false;
  EVP_DecodeInit(context.get());
  // Every 4 characters give at most 3 bytes; the decoder may hold back one block until the end.
  std::string out(text.size() / 4 * 3 + 3, '\0');
  int written = 0;
  if (EVP_DecodeUpdate(context.get(), reinterpret_cast<unsigned char*>(out.data()), &written,
                       reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size())) < 0) {
    return false;
  }
  int last = 0;
  if (EVP_DecodeFinal(context.get(), reinterpret_cast<unsigned char*>(out.data()) + written, &last) != 1) return false;
  out.resize(static_cast<size_t>(written + last));
  *bytes = std::move(out);
  return true;
}
