// Web requests of the device-support set-up (libcurl, one easy handle per request).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The size the server reports for a URL (no body is fetched); 0 when unknown, 404 or failed.
int64_t KorQueryUrlSize(const std::string& url);

// Receives each block of a download; returning less than `size` ends the transfer.
using KorWriteBlock = size_t (*)(const char* data, size_t size, void* user);
// Downloads a URL (following up to 5 redirects) into `write`; libcurl's result code (0 = success).
int KorDownloadUrl(const std::string& url, KorWriteBlock write, void* user);
// Downloads a small text whole; false when the transfer fails or the text exceeds `max_size`.
bool KorDownloadText(const std::string& url, size_t max_size, std::string* out);
