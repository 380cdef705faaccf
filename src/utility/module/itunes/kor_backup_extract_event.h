// The record published with the "KOR_ITUNES_BACKUP_EXTRACT_FILE" event: one wanted database of a
// fresh backup has arrived on disk. Observers (messages, contacts, notes) run synchronously inside
// the publication on the extracting task's thread and must not keep pointers to the record.
#pragma once

#include <memory>
#include <string>

#include "ipc/ipc_packet.h"

class KorDevice;

struct KorBackupExtractEvent {
  const kst::IPCPacket* packet = nullptr;  // the extraction command; messages go out for its task
  std::shared_ptr<KorDevice> device;
  std::string name;        // the database's 40-digit backup file name
  std::string local_path;  // where its main file was written (UTF-8); companions lie beside it
};
