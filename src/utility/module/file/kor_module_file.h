// Files between the computer and the device: export (701), staged download (702) and staged
// upload (703) block by block over the front-end link.
#pragma once

#include <rapidjson/document.h>

#include <deque>
#include <set>
#include <string>

#include "utility/kor_module.h"

class KorDevice;

constexpr uint32_t kKorCommandExport = 701;
constexpr uint32_t kKorCommandDownload = 702;
constexpr uint32_t kKorCommandUpload = 703;
// The device file of a download is missing, empty or unreadable.
constexpr int32_t kKorFileUnreadable = 13;
// The upload's data file or state file cannot be made on the device.
constexpr int32_t kKorFileNotWritable = 14;
// A later stage of a staged transfer arrived for a task that has none open.
constexpr int32_t kKorNoTransfer = 15;

class KorModuleFile : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int Export(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device);
  // 702 and 703: stage 1 opens, 2 continues, 3 ends early; any other stage is refused with 8.
  int StagedTransfer(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                     const std::shared_ptr<KorDevice>& device);
  // A later-stage packet for a task ID whose transfer was opened here and is no longer open: a
  // request that was in flight when the transfer had its final reply. It gets no reply of its own.
  bool IsLateTransferPacket(const kst::IPCPacket* packet, const rapidjson::Value& json);
  // Noted when stage 1 arrives, before any reply of the transfer can leave.
  void RememberOpenedTransfer(const kst::IPCPacket* packet);
  int OpenDownload(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device);
  int SendDownloadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload, const std::string& uuid);
  int OpenUpload(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                 const std::shared_ptr<KorDevice>& device);
  int WriteUploadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                       const std::string& uuid);
  int RequestNextBlock(kst::IPCPacket* packet, const std::string& uuid);

  static constexpr size_t kMaxRememberedTransfers = 4096;
  // Task IDs that opened a transfer, oldest first; guarded by the module mutex.
  std::set<std::string> opened_transfers_;
  std::deque<std::string> opened_order_;
};
