#include "utility/module/calendar/kor_calendar_collection.h"

#include <cstdio>
#include <map>

#include "iOSAPI/kor_sync_sequence.h"
#include "iOSAPI/kor_sync_time.h"

namespace {

using Allocator = rapidjson::Document::AllocatorType;
constexpr const char* kEntityKey = "com.apple.syncservices.RecordEntityName";

// A scalar field as the front-end gets it: text as it is, numbers in decimal, flags as
// "true"/"false"; anything else is empty.
std::string ScalarText(const KorValue& value) {
  if (value.IsString()) return value.AsString();
  if (value.IsInteger()) return std::to_string(value.AsInteger());
  if (value.IsBool()) return value.AsBool() ? "true" : "false";
  if (value.IsDouble()) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value.AsDouble());
    return text;
  }
  return std::string();
}

std::string Field(const CIOSDictionary& record, const char* key) { return ScalarText(record.Get(key)); }

// The identifiers a link field names: an array of texts, or one text.
std::vector<std::string> Links(const CIOSDictionary& record, const char* key) {
  const KorValue value = record.Get(key);
  std::vector<std::string> ids;
  if (value.IsString()) ids.push_back(value.AsString());
  if (value.IsArray()) {
    for (const KorValue& id : value.AsArray()) {
      if (id.IsString()) ids.push_back(id.AsString());
    }
  }
  return ids;
}

class JsonBuilder {
 public:
  explicit JsonBuilder(Allocator& allocator) : allocator_(allocator) {}

  void Text(rapidjson::Value* object, const char* key, const std::string& text) {
    object->AddMember(rapidjson::StringRef(key), Value(text), allocator_);
  }
  // "<key>" in local time and "<key>_source" as received.
  void Time(rapidjson::Value* object, const char* key, const char* source_key, const std::string& received) {
    Text(object, key, KorDeviceTimeAsLocal(received));
    Text(object, source_key, received);
  }
  rapidjson::Value Value(const std::string& text) {
    return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator_);
  }
  Allocator& A() { return allocator_; }

 private:
  Allocator& allocator_;
};

const CIOSDictionary& Fields(const KorSyncRecord& record) { return *record.fields.AsDictionary(); }

std::string KindOf(const KorSyncRecord& record) { return Field(Fields(record), kEntityKey); }

// The records of a listing sorted by kind and linked by owner.
struct Linked {
  std::vector<const KorSyncRecord*> calendars;
  std::map<std::string, std::vector<const KorSyncRecord*>> events_of_calendar;
  std::map<std::string, std::vector<const KorSyncRecord*>> alarms_of_event;
  std::map<std::string, const KorSyncRecord*> recurrence_of_event;
};

Linked LinkRecords(const std::vector<KorSyncRecord>& records) {
  Linked linked;
  for (const KorSyncRecord& record : records) {
    const std::string kind = KindOf(record);
    if (kind == kKorCalendarKind) {
      linked.calendars.push_back(&record);
    } else if (kind == kKorEventKind) {
      for (const std::string& calendar : Links(Fields(record), "calendar")) linked.events_of_calendar[calendar].push_back(&record);
    } else if (kind == kKorAlarmKind) {
      for (const std::string& event : Links(Fields(record), "owner")) linked.alarms_of_event[event].push_back(&record);
    } else if (kind == kKorRecurrenceKind) {
      for (const std::string& event : Links(Fields(record), "owner")) linked.recurrence_of_event.emplace(event, &record);
    }
  }
  return linked;
}

rapidjson::Value RecurrenceJson(const KorSyncRecord* record, JsonBuilder& json) {
  rapidjson::Value recurrence(rapidjson::kObjectType);
  if (!record) return recurrence;
  const CIOSDictionary& fields = Fields(*record);
  json.Text(&recurrence, "frequency", Field(fields, "frequency"));
  json.Time(&recurrence, "until", "until_source", Field(fields, "until"));
  json.Text(&recurrence, "interval", Field(fields, "interval"));
  json.Text(&recurrence, "com_apple_syncservices_RecordEntityName", Field(fields, kEntityKey));
  return recurrence;
}

rapidjson::Value EventJson(const KorSyncRecord& record, const Linked& linked, JsonBuilder& json) {
  const CIOSDictionary& fields = Fields(record);
  rapidjson::Value event(rapidjson::kObjectType);
  json.Time(&event, "start_date", "start_date_source", Field(fields, "start date"));
  json.Time(&event, "end_date", "end_date_source", Field(fields, "end date"));
  json.Text(&event, "url", Field(fields, "url"));
  json.Text(&event, "all_day", Field(fields, "all day"));
  json.Text(&event, "start_date_timezone", Field(fields, "start date timezone"));
  json.Text(&event, "com_apple_syncservices_RecordEntityName", Field(fields, kEntityKey));
  json.Text(&event, "summary", Field(fields, "summary"));
  json.Text(&event, "description", Field(fields, "description"));
  json.Text(&event, "location", Field(fields, "location"));
  auto recurrence = linked.recurrence_of_event.find(record.id);
  event.AddMember("recurrence", RecurrenceJson(recurrence == linked.recurrence_of_event.end() ? nullptr : recurrence->second, json),
                  json.A());
  rapidjson::Value alarms(rapidjson::kArrayType);
  auto listed = linked.alarms_of_event.find(record.id);
  if (listed != linked.alarms_of_event.end()) {
    for (const KorSyncRecord* alarm : listed->second) {
      rapidjson::Value entry(rapidjson::kObjectType);
      json.Text(&entry, "description", Field(Fields(*alarm), "description"));
      json.Text(&entry, "triggerduration", Field(Fields(*alarm), "triggerduration"));
      json.Text(&entry, "com_apple_syncservices_RecordEntityName", Field(Fields(*alarm), kEntityKey));
      alarms.PushBack(entry, json.A());
    }
  }
  event.AddMember("display_alarms", alarms, json.A());
  // The event's own identifier, so that the front-end can delete or change it.
  json.Text(&event, "id", record.id);
  return event;
}

rapidjson::Value CalendarJson(const KorSyncRecord& record, const Linked& linked, JsonBuilder& json) {
  const CIOSDictionary& fields = Fields(record);
  rapidjson::Value calendar(rapidjson::kObjectType);
  json.Text(&calendar, "title", Field(fields, "title"));
  json.Text(&calendar, "com_apple_syncservices_RecordEntityName", Field(fields, kEntityKey));
  json.Text(&calendar, "read_only", Field(fields, "read only"));
  rapidjson::Value color(rapidjson::kArrayType);
  const KorValue components = fields.Get("colorComponents");
  if (components.IsArray()) {
    for (const KorValue& component : components.AsArray()) color.PushBack(json.Value(ScalarText(component)), json.A());
  }
  calendar.AddMember("colorComponents", color, json.A());
  rapidjson::Value events(rapidjson::kArrayType);
  auto listed = linked.events_of_calendar.find(record.id);
  if (listed != linked.events_of_calendar.end()) {
    for (const KorSyncRecord* event : listed->second) events.PushBack(EventJson(*event, linked, json), json.A());
  }
  calendar.AddMember("events", events, json.A());
  return calendar;
}

}  // namespace

void KorCalendarCollection::OnReply(int state, const KorValue& reply, bool* again, int32_t* result) {
  if (state == kKorSyncStateCollect || state == kKorSyncStateMoreBatches) {
    batches_.OnReply(state, reply, again, result);
  } else if (state >= kKorCalendarStateCalendar && state <= kKorCalendarStateRecurrence) {
    KorSyncCollectRemap(reply, &remaps_[Slot(state)]);
  }
}

rapidjson::Document KorCalendarCollection::Calendars() const {
  rapidjson::Document calendars(rapidjson::kObjectType);
  JsonBuilder json(calendars.GetAllocator());
  const Linked linked = LinkRecords(batches_.Records());
  for (const KorSyncRecord* calendar : linked.calendars) {
    if (calendars.HasMember(calendar->id.c_str())) continue;
    rapidjson::Value object = CalendarJson(*calendar, linked, json);
    calendars.AddMember(json.Value(calendar->id), object, calendars.GetAllocator());
  }
  return calendars;
}

std::string KorCalendarCollection::RemapJson() const {
  return KorSyncRemapJson({{kKorCalendarKind, &remaps_[0]},
                           {kKorEventKind, &remaps_[1]},
                           {kKorAlarmKind, &remaps_[2]},
                           {kKorRecurrenceKind, &remaps_[3]}});
}
