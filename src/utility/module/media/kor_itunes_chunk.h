// A bounded view of one chunk of the music database: every read outside the view answers 0, so a
// header shorter than the fields a reader wants cannot take it past the bytes that are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct KorItunesChunk {
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes of this chunk (its total length once validated)
  uint32_t header_length = 0;

  bool HasTag(const char* tag) const { return size >= 4 && std::memcmp(data, tag, 4) == 0; }
  uint8_t U8(size_t offset) const { return offset < size ? data[offset] : 0; }
  uint16_t U16(size_t offset) const {
    return static_cast<uint16_t>(U8(offset) | (U8(offset + 1) << 8));
  }
  uint32_t U32(size_t offset) const {
    if (offset > size || size - offset < 4) return 0;
    return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
           (static_cast<uint32_t>(data[offset + 2]) << 16) | (static_cast<uint32_t>(data[offset + 3]) << 24);
  }
  uint64_t U64(size_t offset) const { return U32(offset) | (static_cast<uint64_t>(U32(offset + 4)) << 32); }
  // The header alone, for reading a record's own fields.
  KorItunesChunk Header() const { return KorItunesChunk{data, header_length, header_length}; }
};

// A chunk whose third field is its total length: valid when the header and the total both fit in
// the `available` bytes and the total covers the header.
bool KorOpenSizedChunk(const uint8_t* data, size_t available, const char* tag, KorItunesChunk* chunk);

// A list chunk whose third field is a count: valid when its header fits in `available`. Its
// children run from its header length to the end of `available` (its parent's end).
bool KorOpenListChunk(const uint8_t* data, size_t available, const char* tag, KorItunesChunk* chunk,
                      uint32_t* count);
