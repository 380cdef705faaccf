// Notes: lists the device's notes (1200) and adds a plain-text note (1201) over the
// synchronisation service; hands the notes databases of a backup to the plug-in that reads them
// (1202) and tells the front-end where a backup extraction put them.
#pragma once

#include "utility/kor_module.h"
#include "utility/kst_subject.h"

constexpr uint32_t kKorCommandNoteList = 1200;
constexpr uint32_t kKorCommandNoteAdd = 1201;
constexpr uint32_t kKorCommandNoteFromBackup = 1202;
constexpr size_t kKorNoteBatchSize = 20;
// The device assigned no identifier to the new note.
constexpr int32_t kKorNoteNoIdentifier = 30;
// The plug-in event that reads the notes databases of a backup.
constexpr const char* kKorNoteListPluginEvent = "LIBMODEL_IBACKUP_QUERY_NOTE_LIST";

class KorModuleNote : public KorModule, public KSTObserver {
 public:
  int OnCommand(kst::IPCPacket* packet) override;
  void Update(void* record, const char* event_name) override;

 private:
  int ListNotes(kst::IPCPacket* packet, const DeviceCommand& command);
  int AddNote(kst::IPCPacket* packet, const DeviceCommand& command, const KorCommandPayload& payload);
  // Final reply only when no plug-in takes the request; a plug-in answers the front-end itself.
  int ForwardToPlugin(kst::IPCPacket* packet, const DeviceCommand& command);
};
