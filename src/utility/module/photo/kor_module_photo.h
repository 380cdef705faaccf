// Photos: lists the photos (400), the albums (401) and the photos of one album (402) from a staged
// copy of the device's photo library, sends thumbnails (403), and deletes photo files by name on
// the attached devices (404).
#pragma once

#include <rapidjson/document.h>

#include <memory>

#include "utility/kor_module.h"
#include "utility/module/photo/kor_photo_functions.h"

class KorDevice;
class KorListing;

constexpr uint32_t kKorCommandPhotoList = 400;
constexpr uint32_t kKorCommandAlbumList = 401;
constexpr uint32_t kKorCommandAlbumPhotos = 402;
constexpr uint32_t kKorCommandThumbnails = 403;
constexpr uint32_t kKorCommandDeletePhotos = 404;
// The device's photo library could not be staged.
constexpr int32_t kKorStagingFailed = 18;
// Photo objects per stage-2 message of 400 and 402, album objects per message of 401.
constexpr size_t kKorPhotoBatch = 600;
constexpr size_t kKorAlbumBatch = 100;

class KorModulePhoto : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int List(kst::IPCPacket* packet, const rapidjson::Value& json, const std::shared_ptr<KorDevice>& device);
  int SendAlbums(KorListing* listing, const KorPhotoQuery& query);
  int Thumbnails(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device);
  int DeletePhotos(const KorCommandPayload& payload);

  KorPhotoFunctionTable functions_;  // used under module_mutex_
};
