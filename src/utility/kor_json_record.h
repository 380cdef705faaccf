// Writes one JSON object of a long listing (a photo, a song) and appends it to the batch text in
// one piece. The buffer and writer are kept per thread and emptied for each object: a listing
// writes tens of thousands of objects, and a fresh pair allocates twice per object while a
// stream that appends character by character costs more than the whole object's formatting.
//
// Usage:
//   KorJsonWriter& writer = KorStartJsonObject();
//   KorJsonMember(&writer, "Z_PK", photo.pk);
//   KorFinishJsonObject(out);   // closes the object and appends it to *out
#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>
#include <string_view>

using KorJsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// The calling thread's writer, emptied and inside a fresh object.
KorJsonWriter& KorStartJsonObject();
// Closes the object that KorStartJsonObject opened and appends its text to `out`.
void KorFinishJsonObject(std::string* out);

inline void KorJsonMember(KorJsonWriter* writer, const char* key, std::string_view value) {
  writer->Key(key);
  writer->String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

inline void KorJsonMember(KorJsonWriter* writer, const char* key, int64_t value) {
  writer->Key(key);
  writer->Int64(value);
}
