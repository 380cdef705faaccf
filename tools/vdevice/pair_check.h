// Checks a computer's pairing request the way a device would: the certificate it issued for the
// device must carry the device's own public key, and its own certificates must be readable.
#pragma once

#include <string>

namespace vdevice {

// Returns true when the PEM texts fit together; otherwise false with *why saying what is wrong.
bool CheckPairCertificates(const std::string& device_certificate_pem, const std::string& host_certificate_pem,
                           const std::string& root_certificate_pem, const std::string& device_public_key_pem,
                           std::string* why);

}  // namespace vdevice
