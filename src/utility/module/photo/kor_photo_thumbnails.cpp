#include "utility/module/photo/kor_photo_thumbnails.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "iOSAPI/kor_afc.h"
#include "platform/vel_json_util.h"
#include "utility/module/photo/kor_photo_thumbnail_paths.h"

namespace {

std::string JsonText(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool ReadThumbnail(AFCConnectionRef afc, const std::string& device_path, std::string* bytes) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info) || info.type != "S_IFREG" || info.size <= 0 ||
      info.size > kKorMaxThumbnailBytes) {
    return false;
  }
  return KorAfcDownload(afc, device_path, std::string(), bytes) && !bytes->empty() &&
         static_cast<int64_t>(bytes->size()) <= kKorMaxThumbnailBytes;
}

}  // namespace

bool KorParseThumbnailRequests(const KorCommandPayload& payload, std::vector<KorThumbnailRequest>* requests) {
  std::string text;
  rapidjson::Document list;
  if (!KorInflateAttachment(payload, &text) || !VelJsonUtil::Parse(text, &list) || !list.IsArray()) return false;
  for (const rapidjson::Value& entry : list.GetArray()) {
    if (!entry.IsObject()) continue;
    KorThumbnailRequest request;
    if (!VelJsonUtil::GetString(entry, "path", &request.path) || request.path.empty()) continue;
    auto id = entry.FindMember("id");
    request.id_json = id == entry.MemberEnd() ? "null" : JsonText(id->value);
    requests->push_back(std::move(request));
  }
  return true;
}

bool KorFindThumbnail(AFCConnectionRef afc, const std::string& photo_path, KorThumbnail* thumbnail) {
  KorAfcFileInfo info;
  bool info_read = KorAfcStat(afc, photo_path, &info);
  for (const std::string& candidate : KorThumbnailCandidates(photo_path, info_read, info.modify_time)) {
    if (!ReadThumbnail(afc, candidate, &thumbnail->bytes)) continue;
    thumbnail->device_path = candidate;
    return true;
  }
  return false;
}

std::string KorThumbnailInfo(const std::string& id_json, const std::string& device_path) {
  return "{\"id\":" + id_json + ",\"path\":\"" + device_path + "\"}";
}
