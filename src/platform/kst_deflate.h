// Whole-buffer compression into the zlib format with libdeflate. The stream is the same format
// that ZlibCompress writes (zlib header, deflate blocks, Adler-32), so any zlib inflate reads it;
// libdeflate gets there faster and usually smaller because it sees the whole input at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kst {

// zlib format at `level` (1..12; 9 is what message attachments use). Empty input gives the
// stream of an empty buffer. False (with `out` cleared) when the compressor cannot be had.
bool DeflateZlibFormat(const uint8_t* data, size_t length, int level, std::vector<uint8_t>* out);

}  // namespace kst
