// Device information: refresh (15), identity and storage (300), rename (303).
#pragma once

#include "utility/kor_module.h"

class KorDevice;

constexpr uint32_t kKorCommandRefresh = 15;
constexpr uint32_t kKorCommandBasicInfo = 300;
constexpr uint32_t kKorCommandRename = 303;
constexpr int32_t kKorRenameRefused = 31;

class KorModuleBasicInfo : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int Refresh(const std::shared_ptr<KorDevice>& device);
  int BasicInfo(kst::IPCPacket* packet, const std::shared_ptr<KorDevice>& device);
  int Rename(const KorCommandPayload& payload, const std::shared_ptr<KorDevice>& device);
  void SendDataReply(kst::IPCPacket* packet, const std::string& uuid, const std::string& json);
};
