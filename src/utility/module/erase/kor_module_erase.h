// Erasing a device: its content (1700: media folders, user applications, then a backup
// restored) and its free space (1701: overwritten with zeros).
#pragma once

#include <rapidjson/document.h>

#include "utility/kor_module.h"
#include "utility/module/erase/kor_erase_task.h"

class KorDevice;

constexpr uint32_t kKorCommandEraseContent = 1700;
constexpr uint32_t kKorCommandEraseFreeSpace = 1701;
// No backup module is registered to end erase content with its restore.
constexpr int32_t kKorEraseRestoreUnavailable = 50;

class KorModuleErase : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  KorEraseResult EraseContent(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                              const std::shared_ptr<KorDevice>& device);
  KorEraseResult EraseFreeSpace(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                const std::shared_ptr<KorDevice>& device);
  KorEraseResult RestoreBackup(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                               const std::shared_ptr<KorDevice>& device);
  KorEraseTask TaskOf(kst::IPCPacket* packet, const std::string& uuid);
};
