#include "utility/module/plugins/kor_plugin_data_functions.h"

#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/kor_module_registry.h"
#include "utility/module/media/kor_module_media.h"
#include "utility/module/photo/kor_photo_functions.h"
#include "utility/module/sms/kor_sms_json.h"
#include "utility/module/sms/kor_sms_reader.h"

namespace {

// The request object of a record, whatever its data kind.
bool ReadRequest(const KSTObserveData* event, rapidjson::Document* request) {
  if (!event->data) return false;
  if (event->data_kind == KST_OBSERVE_JSON) {
    request->CopyFrom(*static_cast<const rapidjson::Value*>(event->data), request->GetAllocator());
  } else if (event->data_kind == KST_OBSERVE_TEXT) {
    if (!VelJsonUtil::Parse(std::string(static_cast<const char*>(event->data)), request)) return false;
  } else {
    if (!VelJsonUtil::Parse(static_cast<const char*>(event->data), event->data_length, request)) return false;
  }
  return request->IsObject();
}

int WriteOutput(KSTObserveData* event, const std::string& text) {
  if (!event->output) return 0;
  auto* copy = static_cast<uint8_t*>(std::malloc(text.size() + 1));
  if (!copy) return 0;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = 0;
  event->output->data = copy;
  event->output->length = text.size();
  event->result = 1;
  return 1;
}

std::string ConversationWithMessages(const KorSmsConversation& conversation) {
  std::string text = KorSmsConversationJson(conversation);
  if (text.empty() || text.back() != '}') return text;
  text.pop_back();
  text += text.size() > 1 ? ",\"messages\":[" : "\"messages\":[";
  for (size_t i = 0; i < conversation.messages.size(); ++i) {
    if (i > 0) text += ',';
    KorSmsAppendMessageJson(*conversation.messages[i], &text);
  }
  return text + "]}";
}

int RunPhotoListing(KSTObserveData* event, KorPhotoListing listing) {
  event->result = 0;
  rapidjson::Document request;
  if (!ReadRequest(event, &request)) return 0;
  KorPhotoQuery query;
  VelJsonUtil::GetString(request, "path", &query.path);
  VelJsonUtil::GetString(request, "productVersion", &query.product_version);
  VelJsonUtil::GetInt64(request, "albumId", &query.album_id);
  VelJsonUtil::GetInt(request, "albumType", &query.album_type);
  if (query.path.empty()) return 0;
  static std::mutex mutex;
  static KorPhotoFunctionTable functions;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!functions.Run(listing, &query)) {
      KLOG(WARNING) << "plug-in photo listing of " << query.path << " failed";
      return 0;
    }
  }
  std::string text = "[";
  if (listing == KorPhotoListing::kAlbums) {
    for (size_t i = 0; i < query.albums.size(); ++i) text += (i ? "," : "") + KorAlbumJson(query.albums[i]);
  } else {
    for (size_t i = 0; i < query.photos.size(); ++i) text += (i ? "," : "") + KorPhotoJson(query.photos[i]);
  }
  return WriteOutput(event, text + "]");
}

}  // namespace

int KorPluginSmsConversations(KSTObserveData* event) {
  event->result = 0;
  rapidjson::Document request;
  std::string path;
  if (!ReadRequest(event, &request) || !VelJsonUtil::GetString(request, "path", &path)) return 0;
  KorSmsConversationList conversations;
  int code = KorSmsReadDatabase(path, &conversations);
  if (code != 0) {
    KLOG(WARNING) << "plug-in messages listing of " << path << " failed: " << code;
    return 0;
  }
  std::string text = "[";
  for (size_t i = 0; i < conversations.size(); ++i) {
    if (i > 0) text += ',';
    text += ConversationWithMessages(*conversations[i]);
  }
  return WriteOutput(event, text + "]");
}

int KorPluginPhotoList(KSTObserveData* event) { return RunPhotoListing(event, KorPhotoListing::kPhotos); }
int KorPluginAlbumList(KSTObserveData* event) { return RunPhotoListing(event, KorPhotoListing::kAlbums); }
int KorPluginAlbumPhotos(KSTObserveData* event) { return RunPhotoListing(event, KorPhotoListing::kAlbumPhotos); }

int KorPluginRecordingList(KSTObserveData* event) {
  event->result = 0;
  rapidjson::Document request;
  std::string uuid;
  if (!ReadRequest(event, &request) || !VelJsonUtil::GetString(request, "uuid", &uuid)) return 0;
  auto* media = KorModuleRegistry::Get().FindModule<KorModuleMedia>();
  std::vector<KorRecording> recordings;
  int code = media ? media->CollectRecordings(uuid, &recordings) : kKorBadJson;
  if (code != 0) {
    KLOG(WARNING) << "plug-in recordings listing of device " << uuid << " failed: " << code;
    return 0;
  }
  return WriteOutput(event, KorRecordingsJson(recordings));
}
