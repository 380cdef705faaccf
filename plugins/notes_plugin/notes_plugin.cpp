// The notes plug-in: answers "LIBMODEL_IBACKUP_QUERY_NOTE_LIST" (the note module forwards its
// command 1202 with the two database paths; command 1800 can publish it too) by reading the notes
// out of the backup's notes databases. The notes reach the front-end through the host's platform
// function "LIBMODEL_PLUGIN_SEND_RESULT", the end of the request through
// "LIBMODEL_PLUGIN_SEND_FINAL_RESULT". Everything runs on the thread that published the request.
#include <rapidjson/document.h>

#include <cstring>
#include <string>

#include "basic/kst_plugin_abi.h"
#include "kor_note_list.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"

namespace {

KSTHandlerRecord* g_handler = nullptr;

int CallPlatform(const char* function, const char* task_id, const std::string& text) {
  KSTObserveData event = KSTPlatformCallRecord(function, task_id, g_handler->identity);
  event.data_kind = KST_OBSERVE_TEXT;
  event.data = text.c_str();
  event.data_length = text.size();
  return g_handler->publish(&event);
}

// The request as JSON text, whichever data kind carried it.
std::string RequestText(const KSTObserveData* event) {
  if (!event->data) return std::string();
  switch (event->data_kind) {
    case KST_OBSERVE_TEXT:
      return static_cast<const char*>(event->data);
    case KST_OBSERVE_BYTES:
      return std::string(static_cast<const char*>(event->data), event->data_length);
    case KST_OBSERVE_JSON:
      return VelJsonUtil::ToString(*static_cast<const rapidjson::Value*>(event->data));
    default:
      return std::string();
  }
}

void ListNotes(const KSTObserveData* event) {
  const char* task_id = event->task_id;
  KorNoteListRequest request;
  if (!KorParseNoteListRequest(RequestText(event), &request)) {
    KLOG(WARNING) << "note list request of task " << task_id << " names no database path";
    CallPlatform("LIBMODEL_PLUGIN_SEND_FINAL_RESULT", task_id, "{\"code\":21}");
    return;
  }
  KLOG(INFO) << "note list for task " << task_id << ": notes database \"" << request.note_db_path
             << "\", note store \"" << request.note_store_db_path << "\"";
  KorNoteListResult result = KorListNotes(request, [task_id](std::string_view json) {
    return CallPlatform("LIBMODEL_PLUGIN_SEND_RESULT", task_id, std::string(json));
  });
  CallPlatform("LIBMODEL_PLUGIN_SEND_FINAL_RESULT", task_id,
               "{\"code\":" + std::to_string(result.code) + ",\"info\":" + result.info + "}");
}

int Receive(KSTObserveData* event) {
  if (!event || !event->event_name || !event->task_id) return 0;
  if (std::strcmp(event->event_name, kKorNoteListEvent) != 0) return 0;
  ListNotes(event);
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void RegisterModule(KSTHandlerRecord* handler) {
  kst::FollowHostLog();
  g_handler = handler;
  handler->receive = &Receive;
}
