// Device-support set-up: restarting the device framework (10), downloading the driver packages
// (16), and installing them (17) or checking for the store edition of iTunes (18) through an
// elevated instance of the program.
#pragma once

#include "utility/kor_module.h"

constexpr uint32_t kKorCommandRestartFramework = 10;
constexpr uint32_t kKorCommandDownloadDrivers = 16;
constexpr uint32_t kKorCommandInstallDrivers = 17;
constexpr uint32_t kKorCommandCheckStoreITunes = 18;

class KorModuleConnect : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;
  int OnElevatedPacket(kst::IPCPacket* packet) override;

 private:
  int RestartFramework(kst::IPCPacket* packet);
  int ElevatedCommand(kst::IPCPacket* packet);
};
