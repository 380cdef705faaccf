#include "utility/module/media/kor_voice_book_records.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void Key(JsonWriter& writer, const char* key, const std::string& value) {
  writer.Key(key);
  writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

void Append(const rapidjson::StringBuffer& buffer, std::string* out) { out->append(buffer.GetString(), buffer.GetSize()); }

}  // namespace

bool KorRecordingCollection::Add(KorRecording recording) {
  if (!paths_.insert(recording.path).second) return false;
  items_.push_back(std::move(recording));
  return true;
}

bool KorRecordingCollection::Has(const std::string& path) const {
  return paths_.count(path) != 0;
}

void KorAppendRecordingJson(const KorRecording& recording, std::string* out) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Key(writer, "path", recording.path);
  writer.Key("size");
  writer.Int64(recording.size);
  Key(writer, "label", recording.label);
  writer.Key("duration_int");
  writer.Double(recording.duration);
  Key(writer, "duration", recording.duration_text);
  writer.Key("date_int");
  writer.Int64(recording.date);
  Key(writer, "date", recording.date_text);
  writer.Key("source");
  writer.Int(static_cast<int>(recording.source));
  writer.EndObject();
  Append(buffer, out);
}

void KorAppendBookJson(const KorBook& book, std::string* out) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Key(writer, "path", book.path);
  Key(writer, "title", book.title);
  writer.Key("size");
  writer.Int64(book.size);
  Key(writer, "artist", book.artist);
  writer.Key("purchase");
  writer.Int(book.purchase ? 1 : 0);
  Key(writer, "gene", book.genre);
  writer.EndObject();
  Append(buffer, out);
}

void KorAppendRingtoneJson(const KorRingtone& ringtone, std::string* out) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Key(writer, "path", ringtone.path);
  Key(writer, "title", ringtone.title);
  writer.Key("size");
  writer.Int64(ringtone.size);
  Key(writer, "duration", ringtone.duration);
  writer.EndObject();
  Append(buffer, out);
}

std::string KorRecordingsJson(const std::vector<KorRecording>& recordings) {
  std::string text = "[";
  for (size_t i = 0; i < recordings.size(); ++i) {
    if (i > 0) text += ',';
    KorAppendRecordingJson(recordings[i], &text);
  }
  return text + "]";
}
