// Secrets of the elevated-instance link: made from OpenSSL's random generator, compared in
// constant time.
#pragma once

#include <string>

// 64 hexadecimal digits (32 random bytes); empty when the generator fails.
std::string KorNewSecret();
bool KorSecretsEqual(const std::string& a, const std::string& b);
