// What the backup service's device messages say: the kind (by exact name), the progress, and
// the paths, moves and error a message carries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "iOSAPI/kor_value.h"

enum KorBackupMessageKind : int {
  kKorBackupOther = 0,
  kKorBackupDownloadFiles = 1,
  kKorBackupContentsOfDirectory = 2,
  kKorBackupGetFreeDiskSpace = 3,
  kKorBackupCreateDirectory = 4,
  kKorBackupMoveItems = 5,
  kKorBackupRemoveFiles = 7,
  kKorBackupDisconnect = 8,
  kKorBackupCopyItem = 9,
  kKorBackupRemoveItems = 10,
  kKorBackupProcessMessage = 11,
  kKorBackupUploadFiles = 12,
};

struct KorBackupMessage {
  int kind = kKorBackupOther;
  bool has_progress = false;
  double progress = 0;  // percent, as the device sent it
  // DownloadFiles and RemoveItems: the array's strings; CreateDirectory: the one path.
  std::vector<std::string> paths;
  // MoveItems: source → target pairs of the dict.
  std::vector<std::pair<std::string, std::string>> moves;
  // ProcessMessage: "ErrorCode" and "ErrorDescription" of its dict.
  bool has_error_code = false;
  int64_t error_code = 0;
  std::string error_description;
};

// The kind of a message name, compared whole and with case.
int KorBackupMessageKindOf(const std::string& name);
// Reads a decoded device message; anything that is not a non-empty array is of kind 0.
KorBackupMessage KorReadBackupMessage(const KorValue& message);
// Progress in hundredths of a percent, truncated and held to 0 … 10000.
int KorProgressHundredths(double percent);
