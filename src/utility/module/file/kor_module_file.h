// Files between the computer and the device: export (701), staged download (702) and staged
// upload (703) block by block over the front-end link.
#pragma once

#include <rapidjson/document.h>

#include "utility/kor_module.h"

class KorDevice;

constexpr uint32_t kKorCommandExport = 701;
constexpr uint32_t kKorCommandDownload = 702;
constexpr uint32_t kKorCommandUpload = 703;
// The device file of a download is missing, empty or unreadable.
constexpr int32_t kKorFileUnreadable = 13;
// The upload's description does not parse or its data file cannot be made on the device.
constexpr int32_t kKorFileNotWritable = 14;
// A later stage of a staged transfer arrived for a task that has none open.
constexpr int32_t kKorNoTransfer = 15;

class KorModuleFile : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int Export(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device);
  int Download(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
               const std::shared_ptr<KorDevice>& device);
  int Upload(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
             const std::shared_ptr<KorDevice>& device);
  int OpenDownload(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device);
  int SendDownloadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::string& uuid);
  int OpenUpload(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                 const std::shared_ptr<KorDevice>& device);
  int WriteUploadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                       const std::string& uuid);
  int RequestNextBlock(kst::IPCPacket* packet, const std::string& uuid);
};
