// The calendar module's reply handler: record batches of calendars, events, display alarms and
// recurrences (states 0 and 1), the identifier remapping of each record kind a write pushes
// (states 2 to 5); the listing's calendar objects are built once every batch is in.
#pragma once

#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "iOSAPI/kor_sync_records.h"
#include "utility/kor_sync_command.h"

constexpr const char* kKorCalendarKind = "com.apple.calendars.Calendar";
constexpr const char* kKorEventKind = "com.apple.calendars.Event";
constexpr const char* kKorAlarmKind = "com.apple.calendars.DisplayAlarm";
constexpr const char* kKorRecurrenceKind = "com.apple.calendars.Recurrence";

// Push states of a write, one per record kind, and of a deletion.
constexpr int kKorCalendarStateCalendar = 2;
constexpr int kKorCalendarStateEvent = 3;
constexpr int kKorCalendarStateAlarm = 4;
constexpr int kKorCalendarStateRecurrence = 5;
constexpr int kKorCalendarStateDelete = 6;

class KorCalendarCollection : public KorSyncReplyHandler {
 public:
  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override;
  // The write's calendar step has come (whether or not it had a text to push).
  void NoteCalendarStep() { calendar_step_done_ = true; }
  // After the calendar step without a device identifier for the calendar.
  bool EndsSession() const override { return calendar_step_done_ && remaps_[0].empty(); }

  // {"<calendar id>": calendar object, …} in arrival order, events attached to their calendar
  // and alarms and recurrences to their event.
  rapidjson::Document Calendars() const;
  // The remap table of a push state (2 to 5).
  const KorSyncRemap& Remap(int state) const { return remaps_[Slot(state)]; }
  std::string RemapJson() const;

 private:
  static size_t Slot(int state) { return state >= 2 && state <= 5 ? static_cast<size_t>(state - 2) : 0; }

  KorSyncBatchCollector batches_;
  KorSyncRemap remaps_[4];
  bool calendar_step_done_ = false;
};
