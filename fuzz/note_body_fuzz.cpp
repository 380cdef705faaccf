// A note body comes from a backup's note store: the gzip inflate with its cap, the protocol-buffer
// note document and the note's JSON object must hold against any bytes. The first byte picks the
// path: odd compresses the rest here first, so that the document parser sees arbitrary bytes
// rather than only what survives gzip's checksum; even hands the rest over as the stored blob.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kor_note_body.h"
#include "kor_note_record.h"
#include "notes_db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string blob = (data[0] & 1) ? vdevice_fixtures::GzipBytes(rest) : rest;
  KorNoteBody body;
  if (KorDecodeNoteBody(blob, &body) != KorNoteBodyResult::kOk) return 0;
  KorNoteRecord note;
  note.content = std::move(body.text);
  note.attachments = std::move(body.attachments);
  std::string json;
  KorAppendNoteJson(note, &json);
  return 0;
}
