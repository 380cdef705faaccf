// MD5 of a file as 32 lowercase hexadecimal digits (OpenSSL), read in 1024-byte blocks.
#pragma once

#include <string>

// Empty when the file cannot be read (an empty text never matches a checksum).
std::string KorFileMd5(const std::string& path);
