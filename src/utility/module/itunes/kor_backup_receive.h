// Receiving the files of one "DLMessageUploadFiles": name blocks and data blocks written to disk
// as they arrive, in pieces, never whole in memory.
#pragma once

#include "iOSAPI/kor_service_message.h"
#include "utility/module/itunes/kor_backup_hooks.h"
#include "utility/module/itunes/kor_backup_paths.h"

enum class KorUploadEnd {
  kListEnded,   // a zero length ended the list of files
  kAllWanted,   // the command has every file it waited for
  kDeviceGone,  // the device went away between files
  kFailed,      // the connection failed
};

KorUploadEnd KorReceiveUploadedFiles(const KorServiceIo& io, const KorBackupPaths& paths, const KorBackupHooks& hooks);
