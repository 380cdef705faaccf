#include "pair_check.h"

#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace vdevice {

namespace {

struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

BioPtr MemoryBio(const std::string& text) {
  return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

X509Ptr ReadCertificate(const std::string& pem) {
  BioPtr bio = MemoryBio(pem);
  return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

// Devices publish their key as PKCS#1 ("BEGIN RSA PUBLIC KEY").
PkeyPtr ReadRsaPublicKey(const std::string& pem) {
  EVP_PKEY* key = nullptr;
  OSSL_DECODER_CTX* decoder = OSSL_DECODER_CTX_new_for_pkey(&key, "PEM", "type-specific", "RSA",
                                                            EVP_PKEY_PUBLIC_KEY, nullptr, nullptr);
  if (!decoder) return nullptr;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(pem.data());
  size_t length = pem.size();
  OSSL_DECODER_from_data(decoder, &data, &length);
  OSSL_DECODER_CTX_free(decoder);
  return PkeyPtr(key);
}

}  // namespace

bool CheckPairCertificates(const std::string& device_certificate_pem, const std::string& host_certificate_pem,
                           const std::string& root_certificate_pem, const std::string& device_public_key_pem,
                           std::string* why) {
  X509Ptr device_certificate = ReadCertificate(device_certificate_pem);
  if (!device_certificate) {
    *why = "DeviceCertificate is not a PEM certificate";
    return false;
  }
  if (!ReadCertificate(host_certificate_pem) || !ReadCertificate(root_certificate_pem)) {
    *why = "HostCertificate or RootCertificate is not a PEM certificate";
    return false;
  }
  PkeyPtr device_key = ReadRsaPublicKey(device_public_key_pem);
  if (!device_key) {
    *why = "the device's own DevicePublicKey cannot be read";
    return false;
  }
  if (EVP_PKEY_eq(X509_get0_pubkey(device_certificate.get()), device_key.get()) != 1) {
    *why = "DeviceCertificate does not carry this device's public key";
    return false;
  }
  return true;
}

}  // namespace vdevice
