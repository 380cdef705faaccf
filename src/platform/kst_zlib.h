// zlib-format compression of message attachments and decompression of command attachments (and
// of gzip data from devices).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kst {

// zlib format with header, one deflate run. On failure `out` holds what the compressor produced.
bool ZlibCompress(const uint8_t* data, size_t length, int level, std::vector<uint8_t>* out);
// Inflates zlib-format data; fails (with `out` cleared) on corrupt input or when the result
// would exceed `max_output` bytes.
bool ZlibDecompress(const uint8_t* data, size_t length, size_t max_output, std::string* out);
// The same for one gzip member (header, deflate data, trailer), as devices store some blobs.
bool GzipDecompress(const uint8_t* data, size_t length, size_t max_output, std::string* out);

}  // namespace kst
