// A note body comes from a backup's note store: the gzip inflate with its cap, the protocol-buffer
// note document and the note's JSON object must hold against any bytes. The first byte picks the
// path: odd compresses the rest here first, so that the document parser sees arbitrary bytes
// rather than only what survives gzip's checksum; even hands the rest over as the stored blob.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "kor_note_body.h"
#include "kor_note_record.h"

namespace {

std::string Gzip(const uint8_t* data, size_t size) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::string();
  std::string out(deflateBound(&stream, size) + 64, '\0');
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return status == Z_STREAM_END ? out : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string blob = (data[0] & 1) ? Gzip(data + 1, size - 1)
                                   : std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  KorNoteBody body;
  if (KorDecodeNoteBody(blob, &body) != KorNoteBodyResult::kOk) return 0;
  KorNoteRecord note;
  note.content = std::move(body.text);
  note.attachments = std::move(body.attachments);
  std::string json;
  KorAppendNoteJson(note, &json);
  return 0;
}
