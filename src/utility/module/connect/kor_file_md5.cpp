#include "utility/module/connect/kor_file_md5.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

std::string KorFileMd5(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    std::printf("Error opening file %s\nError: %d\n", path.c_str(), errno);
    return std::string();
  }
  std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
    std::printf("CryptAcquireContext failed: %d\n", 0);
    return std::string();
  }
  unsigned char block[1024];
  size_t read = 0;
  while ((read = std::fread(block, 1, sizeof(block), file.get())) > 0) {
    if (EVP_DigestUpdate(context.get(), block, read) != 1) {
      std::printf("CryptHashData failed: %d\n", 0);
      return std::string();
    }
  }
  if (std::ferror(file.get())) return std::string();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0f];
  }
  return text;
}
