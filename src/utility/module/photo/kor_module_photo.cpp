#include "utility/module/photo/kor_module_photo.h"

#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/kor_database_staging.h"
#include "utility/kor_listing.h"
#include "utility/module/photo/kor_photo_portable_delete.h"
#include "utility/module/photo/kor_photo_thumbnails.h"

namespace {

constexpr int32_t kDeleteFailed = 1;

std::shared_ptr<KorDeviceService> AfcOf(const std::shared_ptr<KorDevice>& device) {
  int result = 0;
  return KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
}

int64_t InfoNumber(const rapidjson::Value& json, const char* key) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  int64_t value = 0;
  if (info) VelJsonUtil::GetInt64(*info, key, &value);
  return value;
}

KorPhotoListing ListingOf(uint32_t command) {
  if (command == kKorCommandAlbumList) return KorPhotoListing::kAlbums;
  return command == kKorCommandAlbumPhotos ? KorPhotoListing::kAlbumPhotos : KorPhotoListing::kPhotos;
}

}  // namespace

int KorModulePhoto::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  if (!ParseCommandJson(payload, &json)) return SendResult(packet, "", kKorBadParameters);
  std::string uuid;
  VelJsonUtil::GetString(json, "uuid", &uuid);
  if (payload.format != 1) return SendResult(packet, uuid, kKorOk);
  if (IsStopped(packet)) return FinishStopped(packet, uuid);
  // Deleting acts on every attached device, not the one the command names.
  if (packet->command == kKorCommandDeletePhotos) return SendResult(packet, uuid, DeletePhotos(payload));
  std::shared_ptr<KorDevice> device = FindCommandDevice(json, false);
  if (!device) return SendResult(packet, uuid, kKorNoDevice);
  switch (packet->command) {
    case kKorCommandPhotoList:
    case kKorCommandAlbumList:
    case kKorCommandAlbumPhotos:
      return SendResult(packet, uuid, List(packet, json, device));
    case kKorCommandThumbnails:
      return SendResult(packet, uuid, Thumbnails(packet, payload, device));
    default:
      return SendResult(packet, uuid, kKorOk);
  }
}

int KorModulePhoto::List(kst::IPCPacket* packet, const rapidjson::Value& json,
                         const std::shared_ptr<KorDevice>& device) {
  auto afc = AfcOf(device);
  if (!afc) return kKorNoAfcService;
  // Held until the listing is sent, so that a staging never replaces the files being read.
  std::lock_guard<std::mutex> lock(module_mutex_);
  bool refresh = InfoNumber(json, "refresh") != 0;
  if (refresh || device->StagedPath(kKorSlotPhotoLibrary).empty()) {
    if (!KorStageFile(*device, afc->Afc(), KorStagedFile::kPhotoLibrary)) return kKorStagingFailed;
  }
  KorPhotoQuery query;
  query.path = device->StagedPath(kKorSlotPhotoLibrary);
  query.product_version = device->Info().product_version_utf8;
  query.album_id = InfoNumber(json, "album_id");
  query.album_type = static_cast<int>(InfoNumber(json, "album_type"));
  KorPhotoListing kind = ListingOf(packet->command);
  KorListing listing(packet, device->UniqueDeviceId());
  if (kind == KorPhotoListing::kAlbums) {
    if (!functions_.Run(kind, &query)) KLOG(WARNING) << "photo query: no function could read " << query.path;
    return SendAlbums(&listing, query);
  }
  // The photos are written and compressed while the query steps (the level-9 compression of a
  // large library costs more than its query); they are sent after the count, which needs the
  // whole query.
  KorRecordBatcher batch(&listing, 2, kKorPhotoBatch);
  batch.CompressAhead();
  batch.HoldUntilFlush();
  int64_t count = 0;
  query.photo_sink = [&batch, &count](const KorPhotoRecord& photo) {
    ++count;
    batch.AddWritten([&photo](std::string* text) { KorAppendPhotoJson(photo, text); });
  };
  if (!functions_.Run(kind, &query)) KLOG(WARNING) << "photo query: no function could read " << query.path;
  listing.SetInfo(KorCountInfo(count));
  if (int rc = listing.SendStage(1)) return rc;
  return batch.Flush();
}

int KorModulePhoto::SendAlbums(KorListing* listing, const KorPhotoQuery& query) {
  listing->SetInfo(KorCountInfo(static_cast<int64_t>(query.albums.size())));
  if (int rc = listing->SendStage(1)) return rc;
  KorRecordBatcher batch(listing, 2, kKorAlbumBatch);
  for (const KorAlbumRecord& album : query.albums) {
    if (int rc = batch.AddWritten([&album](std::string* text) { KorAppendAlbumJson(album, text); })) return rc;
  }
  return batch.Flush();
}

int KorModulePhoto::Thumbnails(kst::IPCPacket* packet, const KorCommandPayload& payload,
                               const std::shared_ptr<KorDevice>& device) {
  std::vector<KorThumbnailRequest> requests;
  if (!KorParseThumbnailRequests(payload, &requests)) return kKorBadParameters;
  auto afc = AfcOf(device);
  if (!afc) return kKorNoAfcService;
  std::string uuid = device->UniqueDeviceId();
  int sent = 0;
  for (const KorThumbnailRequest& request : requests) {
    if (IsStopped(packet)) return kKorStopped;
    KorThumbnail thumbnail;
    if (!KorFindThumbnail(afc->Afc(), request.path, &thumbnail)) {
      KLOG(WARNING) << "QueryThumbnailListFromPhotoId fail: " << request.path;
      continue;
    }
    KorMessage message;
    message.stage = 1;
    message.uuid = uuid;
    message.info = KorThumbnailInfo(request.id_json, thumbnail.device_path);
    message.attachment = reinterpret_cast<const uint8_t*>(thumbnail.bytes.data());
    message.attachment_length = thumbnail.bytes.size();
    SendIntermediate(packet, message);
    ++sent;
  }
  KLOG(INFO) << "QueryThumbnailListFromPhotoId End Count: " << sent;
  return kKorOk;
}

int KorModulePhoto::DeletePhotos(const KorCommandPayload& payload) {
  rapidjson::Document parameters;
  std::string name;
  if (!ParseCommandParameters(payload, &parameters)) return kKorBadParameters;
  if (!VelJsonUtil::GetString(parameters, "name", &name) || name.empty()) {
    KLOG(WARNING) << "delete photos: an empty name would match every file; nothing deleted";
    return kDeleteFailed;
  }
  return KorDeletePhotosByName(name) ? kKorOk : kDeleteFailed;
}
