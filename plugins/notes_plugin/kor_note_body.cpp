#include "kor_note_body.h"

#include <google/protobuf/arena.h>

#include "note_document.pb.h"
#include "platform/kst_zlib.h"

namespace {

// U+FFFC OBJECT REPLACEMENT CHARACTER in UTF-8: where an attachment sits in the text.
constexpr std::string_view kPlaceholder = "\xEF\xBF\xBC";

std::string WithoutPlaceholders(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  for (size_t found = text.find(kPlaceholder); found != std::string::npos;
       found = text.find(kPlaceholder, start)) {
    out.append(text, start, found - start);
    start = found + kPlaceholder.size();
  }
  out.append(text, start, std::string::npos);
  return out;
}

}  // namespace

KorNoteBodyResult KorDecodeNoteBody(std::string_view data, KorNoteBody* body) {
  *body = KorNoteBody();
  std::string inflated;
  if (!kst::GzipDecompress(reinterpret_cast<const uint8_t*>(data.data()), data.size(), kKorMaxNoteBodyBytes,
                           &inflated)) {
    return KorNoteBodyResult::kDoesNotInflate;
  }
  // One arena for the whole document: thousands of small runs are freed at once.
  google::protobuf::Arena arena;
  auto* stored = google::protobuf::Arena::CreateMessage<tandrel::notes::StoredNote>(&arena);
  if (!stored->ParseFromString(inflated) || !stored->has_document() || !stored->document().has_note()) {
    return KorNoteBodyResult::kNoNoteDocument;
  }
  const tandrel::notes::Note& note = stored->document().note();
  body->text = WithoutPlaceholders(note.note_text());
  for (const tandrel::notes::AttributeRun& run : note.attribute_run()) {
    if (!run.has_attachment_info()) continue;
    body->attachments.push_back(
        KorNoteAttachment{run.attachment_info().attachment_identifier(), run.attachment_info().type_uti()});
  }
  return KorNoteBodyResult::kOk;
}

const char* KorNoteBodyResultName(KorNoteBodyResult result) {
  switch (result) {
    case KorNoteBodyResult::kOk: return "ok";
    case KorNoteBodyResult::kDoesNotInflate: return "does not inflate";
    case KorNoteBodyResult::kNoNoteDocument: return "holds no note document";
  }
  return "unknown";
}
