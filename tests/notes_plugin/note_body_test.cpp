// The note-body decoder on documents written the way the phone writes them (by the fixture's own
// encoder, which shares nothing with the decoder) and on bodies that are not documents at all.
#include <gtest/gtest.h>

#include "kor_note_body.h"
#include "notes_db.h"

namespace {

using vdevice_fixtures::EncodeNoteData;
using vdevice_fixtures::GzipBytes;

// root(2) → document(3) → note(2: text), hand-assembled for sizes the fixture does not write.
std::string DocumentWithText(const std::string& text) {
  auto bytes_field = [](int field, const std::string& value) {
    std::string out(1, static_cast<char>(field << 3 | 2));
    uint64_t length = value.size();
    while (length >= 0x80) {
      out.push_back(static_cast<char>((length & 0x7f) | 0x80));
      length >>= 7;
    }
    out.push_back(static_cast<char>(length));
    return out + value;
  };
  return bytes_field(2, bytes_field(3, bytes_field(2, text)));
}

KorNoteBodyResult Decode(const std::string& data, KorNoteBody* body) { return KorDecodeNoteBody(data, body); }

TEST(NoteBodyTest, TextKeepsEveryLineAndItsCharacters) {
  const std::string text = "Trip ideas\nLisbon in May \xE2\x80\x94 tram 28, Alfama\n\xF0\x9F\x9A\x8B and \"quotes\"";
  KorNoteBody body;
  ASSERT_EQ(Decode(EncodeNoteData(text), &body), KorNoteBodyResult::kOk);
  EXPECT_EQ(body.text, text);
  EXPECT_TRUE(body.attachments.empty());
}

TEST(NoteBodyTest, AttachmentsLeaveTheTextAndAreListedFromTheirRuns) {
  KorNoteBody body;
  ASSERT_EQ(Decode(EncodeNoteData(vdevice_fixtures::kFixtureAttachmentNote.body,
                                  {{"ID-1", "public.jpeg"}}),
                   &body),
            KorNoteBodyResult::kOk);
  EXPECT_EQ(body.text, "Floor plan\nSee the sketch: \nthen the kitchen");
  ASSERT_EQ(body.attachments.size(), 1u);
  EXPECT_EQ(body.attachments[0].identifier, "ID-1");
  EXPECT_EQ(body.attachments[0].type, "public.jpeg");

  std::string two = EncodeNoteData("Two\n\xEF\xBF\xBC\xEF\xBF\xBC", {{"A", "com.adobe.pdf"}, {"B", "public.png"}});
  ASSERT_EQ(Decode(two, &body), KorNoteBodyResult::kOk);
  EXPECT_EQ(body.text, "Two\n");
  ASSERT_EQ(body.attachments.size(), 2u);
  EXPECT_EQ(body.attachments[1].identifier, "B");
}

TEST(NoteBodyTest, WhatIsNotGzipDoesNotInflate) {
  KorNoteBody body;
  std::string document = DocumentWithText("text");
  EXPECT_EQ(Decode("", &body), KorNoteBodyResult::kDoesNotInflate);
  EXPECT_EQ(Decode(document, &body), KorNoteBodyResult::kDoesNotInflate) << "an uncompressed document";
  std::string gzip = GzipBytes(document);
  EXPECT_EQ(Decode(gzip.substr(0, gzip.size() - 6), &body), KorNoteBodyResult::kDoesNotInflate) << "cut short";
  std::string corrupt = gzip;
  corrupt[corrupt.size() / 2] ^= 0x5a;
  EXPECT_EQ(Decode(corrupt, &body), KorNoteBodyResult::kDoesNotInflate) << "its checksum no longer matches";
  EXPECT_TRUE(body.text.empty());
}

TEST(NoteBodyTest, GzipWithoutANoteDocumentIsRecognised) {
  KorNoteBody body;
  EXPECT_EQ(Decode(GzipBytes(""), &body), KorNoteBodyResult::kNoNoteDocument);
  EXPECT_EQ(Decode(GzipBytes("\x12\x7f" "short"), &body), KorNoteBodyResult::kNoNoteDocument) << "a field cut short";
  EXPECT_EQ(Decode(GzipBytes(std::string("\x12\x02\x10\x00", 4)), &body), KorNoteBodyResult::kNoNoteDocument) << "a document, no note";
  EXPECT_EQ(Decode(GzipBytes("plain words, no protocol buffer"), &body), KorNoteBodyResult::kNoNoteDocument);
}

TEST(NoteBodyTest, InflatedSizeIsCappedBeforeParsing) {
  KorNoteBody body;
  std::string large_text(kKorMaxNoteBodyBytes - 64, 'a');
  ASSERT_EQ(Decode(GzipBytes(DocumentWithText(large_text)), &body), KorNoteBodyResult::kOk);
  EXPECT_EQ(body.text.size(), large_text.size());
  // A small blob that would inflate past the cap: refused, whatever it holds.
  std::string bomb = GzipBytes(DocumentWithText(std::string(kKorMaxNoteBodyBytes + 1, 'a')));
  EXPECT_LT(bomb.size(), 64u * 1024);
  EXPECT_EQ(Decode(bomb, &body), KorNoteBodyResult::kDoesNotInflate);
}

}  // namespace
