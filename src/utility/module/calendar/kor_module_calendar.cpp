#include "utility/module/calendar/kor_module_calendar.h"

#include "iOSAPI/kor_sync_push_text.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/kor_listing.h"
#include "utility/kor_sync_command.h"
#include "utility/module/calendar/kor_calendar_collection.h"

namespace {

constexpr int32_t kStageCount = 1;
constexpr int32_t kStageCalendars = 2;

// The first entry of a remap table (lowest host identifier): how later pushes name the record.
bool FirstEntry(const KorSyncRemap& remap, std::pair<std::string, std::string>* entry) {
  if (remap.empty()) return false;
  *entry = *remap.begin();
  return true;
}

// The front-end's process-changes texts of a write, host identifiers replaced as the pushes go.
class EventWrite {
 public:
  EventWrite(const rapidjson::Document& parameters, KorCalendarCollection* replies)
      : parameters_(parameters), replies_(replies) {}

  bool operator()(int state, std::vector<std::string>* elements) const {
    // Without a device identifier for the calendar the session ends after this step.
    if (state == kKorCalendarStateCalendar) replies_->NoteCalendarStep();
    std::string text;
    if (!VelJsonUtil::GetString(parameters_, KindOf(state), &text)) return false;
    std::pair<std::string, std::string> ids;
    if (state == kKorCalendarStateEvent && FirstEntry(replies_->Remap(kKorCalendarStateCalendar), &ids)) {
      text = KorReplaceAll(std::move(text), ids.first, ids.second);
    }
    if (state > kKorCalendarStateEvent && FirstEntry(replies_->Remap(kKorCalendarStateEvent), &ids)) {
      text = KorReplaceAll(std::move(text), ids.first, ids.second);
    }
    if (!KorSyncPushElements(text, "com.apple.Calendars", elements)) {
      KLOG(WARNING) << "calendar write: the " << KindOf(state) << " text is no process-changes message; not sent";
      return false;
    }
    return true;
  }

 private:
  static const char* KindOf(int state) {
    switch (state) {
      case kKorCalendarStateCalendar:
        return kKorCalendarKind;
      case kKorCalendarStateEvent:
        return kKorEventKind;
      case kKorCalendarStateAlarm:
        return kKorAlarmKind;
      default:
        return kKorRecurrenceKind;
    }
  }

  const rapidjson::Document& parameters_;
  KorCalendarCollection* replies_;
};

}  // namespace

int KorModuleCalendar::OnCommand(kst::IPCPacket* packet) {
  return RunDeviceCommand(packet, [this, packet](const KorCommandPayload& payload, const DeviceCommand& command) -> int {
    if (packet->command == kKorCommandCalendarList) return ListCalendars(packet, command);
    rapidjson::Document parameters;
    if (!ParseCommandParameters(payload, &parameters)) return kKorBadParameters;
    return packet->command == kKorCommandCalendarWrite ? WriteEvent(packet, command, parameters)
                                                       : DeleteRecord(command, parameters);
  });
}


int KorModuleCalendar::ListCalendars(kst::IPCPacket* packet, const DeviceCommand& command) {
  KorCalendarCollection replies;
  std::shared_ptr<KorDeviceService> service;  // closed after the final reply
  if (int rc = KorRunDeviceSync(command.device, kKorSyncCalendars, kKorSyncCalendarsReadAll, &replies, nullptr,
                                &service)) {
    return rc;
  }
  if (IsStopped(packet)) return kKorStopped;
  const rapidjson::Document calendars = replies.Calendars();
  KorListing listing(packet, command.uuid);
  listing.SetInfo(KorCountInfo(KorSyncListingCount(command.device, calendars.MemberCount(), "Calendars")));
  if (int rc = listing.SendStage(kStageCount)) return rc;
  return ReplyBeforeClosing(packet, command.uuid,
                            KorSendMemberChunks(&listing, kStageCalendars, calendars, kKorCalendarBatchSize));
}

int KorModuleCalendar::WriteEvent(kst::IPCPacket* packet, const DeviceCommand& command,
                                  const rapidjson::Document& parameters) {
  KorCalendarCollection replies;
  const EventWrite pushes(parameters, &replies);
  if (int rc = KorRunDeviceSync(command.device, kKorSyncCalendars, kKorSyncCalendarsWrite, &replies, pushes)) return rc;
  if (replies.Remap(kKorCalendarStateCalendar).empty()) return kKorCalendarNoIdentifier;
  KorListing listing(packet, command.uuid);
  return listing.SendAttachment(kStageCalendars, replies.RemapJson());
}

int KorModuleCalendar::DeleteRecord(const DeviceCommand& command, const rapidjson::Document& parameters) {
  std::string id;
  if (!VelJsonUtil::GetString(parameters, "id", &id)) return kKorBadParameters;
  KorCalendarCollection ignored;  // the deletion's reply says nothing the command reports
  return KorRunDeviceSync(command.device, kKorSyncCalendars, kKorSyncCalendarsDelete, &ignored,
                          KorSyncPushOnce(KorSyncDeletionElements(id)));
}
