// Stops a running or future command by its task ID (command 600).
#pragma once

#include "utility/kor_module.h"

constexpr uint32_t kKorCommandStopTask = 600;

class KorModuleControl : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;
};
