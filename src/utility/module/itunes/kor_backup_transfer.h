// One transfer with the device's backup service: greeting, the backup or restore request, and
// the run loop in which the device drives the transfer with file-operation messages that are
// carried out on the local disk and answered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "iOSAPI/kor_device_link.h"
#include "utility/module/itunes/kor_backup_hooks.h"
#include "utility/module/itunes/kor_backup_message.h"
#include "utility/module/itunes/kor_backup_paths.h"

// Result codes of a transfer besides 0, 6 (stopped) and the device's own error codes.
constexpr int32_t kKorBackupTaskError = 2;
constexpr int32_t kKorBackupDeviceGone = 45;

struct KorBackupOutcome {
  int32_t code = 0;
  std::string message;
  // The transfer ended early because the command had every file it waited for.
  bool all_wanted_arrived = false;
};

class KorBackupTransfer {
 public:
  // `paths` says where the device's paths land: the new backup folder for a backup, the
  // existing one for a restore.
  KorBackupTransfer(KorServiceIo io, KorBackupPaths paths, KorBackupHooks hooks);

  // Discards the device's first message, exchanges versions until the device is ready, and says
  // hello; false when the device went silent before it was ready.
  bool Greet();
  bool RequestBackup(const std::string& target_udid);
  bool RequestRestore(const std::string& source_udid, const std::string& target_udid,
                      const std::optional<std::string>& password);
  // An incomplete backup's folder is deleted before this returns.
  KorBackupOutcome RunBackup();
  KorBackupOutcome RunRestore();

  double Progress() const { return progress_; }

 private:
  enum class Step { kGoOn, kEnd };

  // Reads the next device message; false when nothing could be received.
  bool ReceiveNext(KorBackupMessage* message);
  void NoteProgress(const KorBackupMessage& message);
  // The outcome when the connection gave out: stopped, device gone, or `message` with code 2.
  KorBackupOutcome ReceiveFailure(const char* message) const;
  // True when the device is, or within the loss grace becomes, reported gone.
  bool DeviceWentAway() const;
  Step HandleBackupMessage(const KorBackupMessage& message, KorBackupOutcome* outcome);
  Step HandleRestoreMessage(const KorBackupMessage& message, KorBackupOutcome* outcome);
  bool RefuseDownloads(const std::vector<std::string>& device_paths);
  bool SendDownloads(const std::vector<std::string>& device_paths);
  bool SendStatus(const std::string& last_element);
  bool SendStatusWithEmptyDict();
  bool SendFreeSpace();
  bool SendMultiStatus(const std::vector<std::string>& device_paths);
  bool SendProcessMessage(const std::string& dict);

  KorDeviceLink link_;
  KorBackupPaths paths_;
  KorBackupHooks hooks_;
  double progress_ = 0;
  int reported_ = -1;
};
