#include "utility/module/note/kor_note_collection.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "iOSAPI/kor_sync_records.h"
#include "iOSAPI/kor_sync_sequence.h"
#include "iOSAPI/kor_sync_time.h"

namespace {

std::string StringField(const CIOSDictionary& record, const char* key) {
  const KorValue value = record.Get(key);
  return value.IsString() ? value.AsString() : std::string();
}

KorNote NoteOf(const std::string& id, const CIOSDictionary& record) {
  KorNote note;
  note.guid = id;
  note.subject = StringField(record, "subject");
  note.author = StringField(record, "author");
  note.content = StringField(record, "content");
  note.date_created_source = StringField(record, "dateCreated");
  note.date_modified_source = StringField(record, "dateModified");
  note.content_type = StringField(record, "contentType");
  note.entity_name = StringField(record, "com.apple.syncservices.RecordEntityName");
  return note;
}

}  // namespace

std::string KorNoteJson(const KorNote& note) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  auto member = [&writer](const char* key, const std::string& value) {
    writer.Key(key);
    writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
  };
  writer.StartObject();
  member("guid", note.guid);
  member("subject", note.subject);
  member("author", note.author);
  member("content", note.content);
  member("dateCreated", KorDeviceTimeAsLocal(note.date_created_source));
  member("dateCreatedSource", note.date_created_source);
  member("dateModified", KorDeviceTimeAsLocal(note.date_modified_source));
  member("dateModifiedSource", note.date_modified_source);
  member("contentType", note.content_type);
  member("com_apple_syncservices_RecordEntityName", note.entity_name);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

void KorNoteCollection::OnReply(int state, const KorValue& reply, bool* /*again*/, int32_t* /*result*/) {
  if (state == kKorSyncStateCollect) {
    KorSyncVisitRecords(reply, kKorSyncMaxRecords, [this](const std::string& id, const KorValue& fields) {
      notes_.push_back(NoteOf(id, *fields.AsDictionary()));
    });
    return;
  }
  for (const KorValue& element : reply.AsArray()) {
    if (!element.IsDictionary() || !element.AsDictionary()) continue;
    const KorValue found = element.AsDictionary()->Get(lookup_key_);
    if (found.IsString()) found_id_ = found.AsString();
  }
}
