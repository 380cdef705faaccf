// The body of a note in the note store: a gzip member holding a protocol-buffer note document
// (note_document.proto). Bodies come from backups and are treated as hostile: the inflated size
// is capped before anything is parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The largest inflated body that is parsed. Notes of a whole book's text stay below it; the cap
// also bounds the memory the parsed runs take (a few dozen bytes of run per byte of input).
constexpr size_t kKorMaxNoteBodyBytes = 4u * 1024 * 1024;

enum class KorNoteBodyResult {
  kOk,
  kDoesNotInflate,   // not gzip, truncated, corrupt, or larger than the cap
  kNoNoteDocument,   // inflates, but holds no note document
};

struct KorNoteAttachment {
  std::string identifier;  // the attachment's ZIDENTIFIER in the note store
  std::string type;        // its uniform type identifier ("public.jpeg")
};

struct KorNoteBody {
  std::string text;  // the note's text without the attachments' placeholder characters
  std::vector<KorNoteAttachment> attachments;  // in text order
};

KorNoteBodyResult KorDecodeNoteBody(std::string_view data, KorNoteBody* body);

// A log word for a result.
const char* KorNoteBodyResultName(KorNoteBodyResult result);
