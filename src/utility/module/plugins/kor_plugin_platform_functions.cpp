#include "utility/module/plugins/kor_plugin_platform_functions.h"

#include <cstdlib>
#include <cstring>

#include "platform/kst_log.h"
#include "platform/kst_zlib.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/kor_module.h"
#include "utility/kor_task_meta_data.h"
#include "utility/module/plugins/kor_plugin_data_functions.h"

namespace {

// The attachment of a result by data kind, and the message type it travels with.
bool ResultAttachment(const KSTObserveData* event, std::string* bytes, int32_t* type) {
  if (!event->data) return false;
  switch (event->data_kind) {
    case KST_OBSERVE_TEXT:
      *bytes = static_cast<const char*>(event->data);
      *type = kKorMessageTypeCompressed;
      return true;
    case KST_OBSERVE_JSON:
      *bytes = VelJsonUtil::ToString(*static_cast<const rapidjson::Value*>(event->data));
      *type = kKorMessageTypeCompressed;
      return true;
    case KST_OBSERVE_BYTES:
      bytes->assign(static_cast<const char*>(event->data), event->data_length);
      *type = kKorMessageTypeRaw;
      return true;
    default:
      return false;
  }
}

// The code and info of a plug-in's final reply: its data is the JSON object {"code":N[,"info":V]}.
bool FinalReplyOf(const KSTObserveData* event, int* code, std::optional<std::string>* info) {
  std::string text;
  int32_t type = 0;
  rapidjson::Document request;
  if (!ResultAttachment(event, &text, &type) || !VelJsonUtil::Parse(text, &request) || !request.IsObject() ||
      !VelJsonUtil::GetInt(request, "code", code)) {
    return false;
  }
  if (request.HasMember("info")) *info = VelJsonUtil::ToString(request["info"]);
  return true;
}

kst::IPCConnection* ConnectionOf(kst::NativeSocket socket) {
  for (kst::IPCConnection* connection : KorClient::Instance().ClientChannel().Connections()) {
    if (connection->native == socket) return connection;
  }
  return nullptr;
}

}  // namespace

int KorPluginSendResult(KSTObserveData* event) {
  if (!event->task_id) return 0;
  auto task = QrTaskSchedular::Get().FindTask(event->task_id);
  if (!task || task->GetStatus() == kQrTaskStatusStopped) {
    KLOG(INFO) << "plug-in result for task " << event->task_id << " dropped: the task is gone or stopped";
    return kKorStopped;
  }
  auto meta = task->GetTaskDataAs<TaskMetaData>();
  std::string bytes;
  KorMessage message;
  if (!meta || !ResultAttachment(event, &bytes, &message.type)) {
    KLOG(WARNING) << "plug-in result for task " << event->task_id << " has no data it can send";
    return 0;
  }
  kst::IPCConnection* connection = ConnectionOf(meta->socket);
  if (!connection) return 0;
  message.stage = 2;
  message.uuid = meta->text;
  message.attachment = reinterpret_cast<const uint8_t*>(bytes.data());
  message.attachment_length = bytes.size();
  KorPacketHeader header{std::strtoull(event->task_id, nullptr, 10), kKorStatusIntermediate, meta->command};
  return KorClient::Instance().SendOn(connection, header, message);
}

int KorPluginSendFinalResult(KSTObserveData* event) {
  if (!event->task_id) return 0;
  auto task = QrTaskSchedular::Get().FindTask(event->task_id);
  auto meta = task ? task->GetTaskDataAs<TaskMetaData>() : nullptr;
  if (!meta) {
    KLOG(INFO) << "plug-in final reply for task " << event->task_id << " dropped: the task is gone";
    return kKorStopped;
  }
  int code = kKorOk;
  std::optional<std::string> info;
  if (!FinalReplyOf(event, &code, &info)) {
    // A plug-in's malformed request still ends the command: the front-end would wait otherwise.
    KLOG(WARNING) << "plug-in final reply for task " << event->task_id << " is not {\"code\":N}; sent as "
                  << kKorBadJson;
    code = kKorBadJson;
    info.reset();
  }
  if (task->GetStatus() == kQrTaskStatusStopped) {
    code = kKorStopped;
    info.reset();
  }
  if (!KorModule::ClaimFinalReply(task, code)) {
    KLOG(WARNING) << "plug-in final reply for task " << event->task_id << " dropped: the task already had one";
    return 0;
  }
  kst::IPCConnection* connection = ConnectionOf(meta->socket);
  if (!connection) return 0;
  KorMessage message;
  message.code = code;
  message.uuid = meta->text;
  message.info = std::move(info);
  KorPacketHeader header{std::strtoull(event->task_id, nullptr, 10), KorStatusForCode(code), meta->command};
  return KorClient::Instance().SendOn(connection, header, message);
}

int KorPluginDecompressZipStream(KSTObserveData* event) {
  event->result = 0;
  if (!event->output || !event->data) return 0;
  std::string inflated;
  if (!kst::ZlibDecompress(static_cast<const uint8_t*>(event->data), event->data_length, kKorMaxPluginInflated,
                           &inflated)) {
    KLOG(WARNING) << "plug-in data of " << event->data_length << " bytes does not inflate within "
                  << kKorMaxPluginInflated << " bytes";
    return 0;
  }
  auto* copy = static_cast<uint8_t*>(std::malloc(inflated.empty() ? 1 : inflated.size()));
  if (!copy) return 0;
  std::memcpy(copy, inflated.data(), inflated.size());
  event->output->data = copy;
  event->output->length = inflated.size();
  event->result = 1;
  return 1;
}

KorModulePlugins::PlatformTable KorPluginPlatformFunctions() {
  KorModulePlugins::PlatformTable table;
  table["LIBMODEL_PLUGIN_SEND_RESULT"] = KorPluginSendResult;
  table["LIBMODEL_PLUGIN_SEND_FINAL_RESULT"] = KorPluginSendFinalResult;
  table["LIBPLATFORM_DECOMPRESS_ZIP_STREAM"] = KorPluginDecompressZipStream;
  table["LIBPLATFORM_SMS_QUERY_CONVERSATION_LIST"] = KorPluginSmsConversations;
  table["LIBPLATFORM_PHOTO_QUERY_CAMERA_ROLL_LIST"] = KorPluginPhotoList;
  table["LIBPLATFORM_PHOTO_QUERY_ALBUM_LIST"] = KorPluginAlbumList;
  table["LIBPLATFORM_PHOTO_QUERY_PHOTO_FROM_ALBUM"] = KorPluginAlbumPhotos;
  table["LIBPLATFORM_RECORDING_QUERY_LIST"] = KorPluginRecordingList;
  return table;
}
