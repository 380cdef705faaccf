// Bookmarks: lists the device's browser bookmarks as a tree (1400), pushes bookmark changes the
// front-end wrote (1401) and deletes a bookmark or folder (1402) over the synchronisation
// service.
#pragma once

#include "utility/kor_module.h"

constexpr uint32_t kKorCommandBookmarkList = 1400;
constexpr uint32_t kKorCommandBookmarkWrite = 1401;
constexpr uint32_t kKorCommandBookmarkDelete = 1402;

class KorModuleBookmark : public KorModule {
 public:
  int OnCommand(kst::IPCPacket* packet) override;

 private:
  int ListBookmarks(kst::IPCPacket* packet, const DeviceCommand& command);
  int WriteBookmarks(kst::IPCPacket* packet, const DeviceCommand& command, const KorCommandPayload& payload);
  int DeleteBookmark(const DeviceCommand& command, const KorCommandPayload& payload);
};
