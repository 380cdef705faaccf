#include "kor_note_record.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/kst_utility_string.h"
#include "platform/kst_utility_sys.h"

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void Text(JsonWriter& writer, const char* key, const std::string& value) {
  writer.Key(key);
  if (KSTUtilityString::IsValidUtf8(value)) {
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
  } else {
    std::string repaired = KSTUtilityString::WideToUtf8(KSTUtilityString::Utf8ToWide(value));
    writer.String(repaired.data(), static_cast<rapidjson::SizeType>(repaired.size()));
  }
}

std::string LocalDate(const std::optional<double>& seconds_since_2001) {
  return seconds_since_2001 ? KSTUtilitySys::Convert2001GMTtoDate(*seconds_since_2001) : std::string();
}

}  // namespace

void KorAppendNoteJson(const KorNoteRecord& note, std::string* out) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  writer.StartObject();
  Text(writer, "guid", note.guid);
  Text(writer, "subject", note.subject);
  Text(writer, "author", note.author);
  Text(writer, "content", note.content);
  Text(writer, "dateCreated", LocalDate(note.created));
  Text(writer, "dateCreatedSource", note.created_source);
  Text(writer, "dateModified", LocalDate(note.modified));
  Text(writer, "dateModifiedSource", note.modified_source);
  Text(writer, "contentType", note.content_type);
  Text(writer, "com_apple_syncservices_RecordEntityName", "com.apple.notes.Note");
  Text(writer, "folder", note.folder);
  Text(writer, "source", note.source);
  writer.Key("locked");
  writer.Bool(note.locked);
  writer.Key("damaged");
  writer.Bool(note.damaged);
  writer.Key("attachments");
  writer.StartArray();
  for (const KorNoteAttachment& attachment : note.attachments) {
    writer.StartObject();
    Text(writer, "identifier", attachment.identifier);
    Text(writer, "type", attachment.type);
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  out->append(buffer.GetString(), buffer.GetSize());
}
