#include "utility/module/media/kor_itunes_chunk.h"

namespace {

// Tag, header length and third field: the least any chunk carries.
constexpr size_t kChunkPrologue = 12;

bool OpenPrologue(const uint8_t* data, size_t available, const char* tag, KorItunesChunk* chunk) {
  if (!data || available < kChunkPrologue) return false;
  *chunk = KorItunesChunk{data, available, 0};
  if (!chunk->HasTag(tag)) return false;
  chunk->header_length = chunk->U32(4);
  return chunk->header_length >= kChunkPrologue && chunk->header_length <= available;
}

}  // namespace

bool KorOpenSizedChunk(const uint8_t* data, size_t available, const char* tag, KorItunesChunk* chunk) {
  if (!OpenPrologue(data, available, tag, chunk)) return false;
  uint32_t total = chunk->U32(8);
  if (total < chunk->header_length || total > available) return false;
  chunk->size = total;
  return true;
}

bool KorOpenListChunk(const uint8_t* data, size_t available, const char* tag, KorItunesChunk* chunk,
                      uint32_t* count) {
  if (!OpenPrologue(data, available, tag, chunk)) return false;
  int32_t announced = static_cast<int32_t>(chunk->U32(8));
  *count = announced < 0 ? 0 : static_cast<uint32_t>(announced);
  return true;
}
