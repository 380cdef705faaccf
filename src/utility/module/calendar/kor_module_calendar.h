// Calendars: lists the device's calendars with their events (1500), writes an event with its
// calendar, alarms and recurrence (1501) and deletes a record (1502) over the synchronisation
// service.
#pragma once

#include "utility/kor_module.h"

constexpr uint32_t kKorCommandCalendarList = 1500;
constexpr uint32_t kKorCommandCalendarWrite = 1501;
constexpr uint32_t kKorCommandCalendarDelete = 1502;
constexpr size_t kKorCalendarBatchSize = 20;
// The device assigned no identifier to the pushed calendar.
constexpr int32_t kKorCalendarNoIdentifier = 29;

class KorModuleCalendar : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int ListCalendars(kst::IPCPacket* packet, const DeviceCommand& command);
  int WriteEvent(kst::IPCPacket* packet, const DeviceCommand& command, const rapidjson::Document& parameters);
  int DeleteRecord(const DeviceCommand& command, const rapidjson::Document& parameters);
};
