#include "utility/module/itunes/kor_backup_transfer.h"

#include <chrono>
#include <thread>

#include "iOSAPI/kor_buffered_io.h"
#include "iOSAPI/kor_device_link_files.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "utility/kor_message.h"
#include "utility/module/itunes/kor_backup_disk.h"
#include "utility/module/itunes/kor_backup_receive.h"
#include "utility/module/itunes/kor_transfer_watch.h"

namespace {

constexpr const char* kStatusResponse = "DLMessageStatusResponse";
constexpr const char* kNoSuchFile = "No such file or directory";
constexpr const char* kRefusedFile = "Operation not permitted";
constexpr int kProtocolVersion = 300;

std::string EmptyParameter() { return KorPlistString(kKorDLEmptyParameter); }

void LogDeviceError(const KorBackupMessage& message) {
  KLOG(ERROR) << "error: " << message.error_code << " description: " << message.error_description;
}

}  // namespace

KorBackupTransfer::KorBackupTransfer(KorServiceIo io, KorBackupPaths paths, KorBackupHooks hooks)
    : link_(KorBufferedReceiveIo(std::move(io)), KorPlistDoctype::kAppleComputer),
      paths_(std::move(paths)),
      hooks_(std::move(hooks)) {}

bool KorBackupTransfer::Greet() {
  KorTransferWatch watch(hooks_);
  if (!link_.RawRead()) return false;
  if (!link_.SendAndWaitFor({KorPlistString("DLMessageVersionExchange"), KorPlistString("DLVersionsOk"),
                             KorPlistInteger(kProtocolVersion)},
                            "DLMessageDeviceReady")) {
    return false;
  }
  const std::string versions = KorPlistArray({KorPlistInteger(2), KorPlistReal(2.1)});
  return link_.SendAndReadOne({KorPlistString("DLMessageProcessMessage"),
                               KorPlistDict({{"MessageName", KorPlistString("Hello")},
                                             {"SupportedProtocolVersions", versions}})});
}

bool KorBackupTransfer::SendProcessMessage(const std::string& dict) {
  return link_.Send({KorPlistString("DLMessageProcessMessage"), dict});
}

bool KorBackupTransfer::RequestBackup(const std::string& target_udid) {
  return SendProcessMessage(
      KorPlistDict({{"MessageName", KorPlistString("Backup")}, {"TargetIdentifier", KorPlistString(target_udid)}}));
}

bool KorBackupTransfer::RequestRestore(const std::string& source_udid, const std::string& target_udid,
                                       const std::optional<std::string>& password) {
  std::vector<std::pair<std::string, std::string>> options = {{"RestoreDontCopyBackup", KorPlistBool(true)}};
  if (password) options.emplace_back("Password", KorPlistString(*password));
  return SendProcessMessage(KorPlistDict({{"MessageName", KorPlistString("Restore")},
                                          {"Options", KorPlistDict(options)},
                                          {"SourceIdentifier", KorPlistString(source_udid)},
                                          {"TargetIdentifier", KorPlistString(target_udid)}}));
}

bool KorBackupTransfer::ReceiveNext(KorBackupMessage* message) {
  KorValue value;
  KorDLReceive received = link_.Receive(&value);
  if (received == KorDLReceive::kFailed) return false;
  *message = received == KorDLReceive::kMessage ? KorReadBackupMessage(value) : KorBackupMessage();
  return true;
}

void KorBackupTransfer::NoteProgress(const KorBackupMessage& message) {
  if (!message.has_progress) return;
  progress_ = message.progress;
  const int hundredths = KorProgressHundredths(progress_);
  if (hundredths > reported_) {
    reported_ = hundredths;
    if (hooks_.progress) hooks_.progress(hundredths);
  }
}

bool KorBackupTransfer::DeviceWentAway() const {
  constexpr auto kLook = std::chrono::milliseconds(50);
  auto waited = std::chrono::milliseconds(0);
  for (;;) {
    if (KorHookSays(hooks_.device_gone)) return true;
    if (!hooks_.device_gone || waited >= hooks_.loss_grace || KorHookSays(hooks_.stopped)) return false;
    std::this_thread::sleep_for(kLook);
    waited += kLook;
  }
}

KorBackupOutcome KorBackupTransfer::ReceiveFailure(const char* message) const {
  if (KorHookSays(hooks_.stopped)) return {kKorStopped, "Task cancelled.", false};
  if (DeviceWentAway()) return {kKorBackupDeviceGone, "", false};
  return {kKorBackupTaskError, message, false};
}

bool KorBackupTransfer::SendStatus(const std::string& last_element) {
  return link_.Send({KorPlistString(kStatusResponse), KorPlistInteger(0), EmptyParameter(), last_element});
}

bool KorBackupTransfer::SendStatusWithEmptyDict() { return SendStatus("<dict/>"); }

bool KorBackupTransfer::SendFreeSpace() {
  uint64_t free_bytes = 0;
  if (!KorBackupFreeSpace(paths_, &free_bytes)) {
    KLOG(WARNING) << "free space of " << paths_.Root() << " unknown; not answered";
    return true;
  }
  return SendStatus(KorPlistInteger(static_cast<int64_t>(free_bytes)));
}

bool KorBackupTransfer::SendMultiStatus(const std::vector<std::string>& device_paths) {
  const std::string error =
      KorPlistDict({{"DLFileErrorCode", KorPlistInteger(-6)}, {"DLFileErrorString", KorPlistString(kNoSuchFile)}});
  std::vector<std::pair<std::string, std::string>> entries;
  for (const std::string& path : device_paths) entries.emplace_back(path, error);
  return link_.Send({KorPlistString(kStatusResponse), KorPlistInteger(-13), KorPlistString("Multi status"),
                     KorPlistDict(entries)});
}

bool KorBackupTransfer::RefuseDownloads(const std::vector<std::string>& device_paths) {
  // During a backup the computer has none of the files the device asks for.
  KorDLFileWriter writer(link_.Io());
  const std::string text = kNoSuchFile;
  for (const std::string& path : device_paths) {
    if (!writer.SendName(path) ||
        !writer.SendDataBlock(kKorDLFileLocalError, reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
      return false;
    }
  }
  return writer.SendEndOfList();
}

bool KorBackupTransfer::SendDownloads(const std::vector<std::string>& device_paths) {
  KorDLFileWriter writer(link_.Io());
  for (const std::string& path : device_paths) {
    if (!writer.SendName(path)) return false;
    std::string local;
    std::string why;
    if (paths_.Confine(path, &local, &why)) {
      if (!writer.SendFile(local)) return false;
      continue;
    }
    KorLogRefusedPath("download", path, why);
    const std::string text = kRefusedFile;
    if (!writer.SendDataBlock(kKorDLFileLocalError, reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
      return false;
    }
  }
  return writer.SendEndOfList();
}

KorBackupTransfer::Step KorBackupTransfer::HandleBackupMessage(const KorBackupMessage& message,
                                                               KorBackupOutcome* outcome) {
  bool sent = true;
  switch (message.kind) {
    case kKorBackupDownloadFiles:
      sent = RefuseDownloads(message.paths) && SendMultiStatus(message.paths);
      break;
    case kKorBackupContentsOfDirectory:
      sent = SendStatusWithEmptyDict();
      break;
    case kKorBackupGetFreeDiskSpace:
      sent = SendFreeSpace();
      break;
    case kKorBackupCreateDirectory:
      for (const std::string& path : message.paths) KorBackupCreateDirectory(paths_, path);
      sent = SendStatus(EmptyParameter());
      break;
    case kKorBackupMoveItems:
      KorBackupMoveItems(paths_, message.moves);
      sent = SendStatusWithEmptyDict();
      break;
    case kKorBackupRemoveItems:
      KorBackupRemoveItems(paths_, message.paths);
      sent = SendStatusWithEmptyDict();
      break;
    case kKorBackupUploadFiles:
      switch (KorReceiveUploadedFiles(link_.Io(), paths_, hooks_)) {
        case KorUploadEnd::kListEnded:
          sent = SendStatusWithEmptyDict();
          break;
        case KorUploadEnd::kAllWanted:
          *outcome = {kKorOk, "", true};
          return Step::kEnd;
        case KorUploadEnd::kDeviceGone:
          *outcome = {kKorBackupDeviceGone, "", false};
          return Step::kEnd;
        case KorUploadEnd::kFailed:
          *outcome = ReceiveFailure("Task error.");
          return Step::kEnd;
      }
      break;
    case kKorBackupDisconnect:
      *outcome = {progress_ >= 100 ? kKorOk : kKorBackupDeviceGone, "", false};
      return Step::kEnd;
    case kKorBackupProcessMessage:
      if (message.has_error_code && progress_ < 100) {
        LogDeviceError(message);
        *outcome = {static_cast<int32_t>(message.error_code), message.error_description, false};
        return Step::kEnd;
      }
      sent = SendStatusWithEmptyDict();
      break;
    default:
      break;  // 7, 9 and unknown messages are not answered
  }
  if (!sent) {
    KLOG(WARNING) << "backup answer could not be sent";
    *outcome = ReceiveFailure("Task error.");
    return Step::kEnd;
  }
  return Step::kGoOn;
}

KorBackupOutcome KorBackupTransfer::RunBackup() {
  KorBackupOutcome outcome;
  {
    KorTransferWatch watch(hooks_);
    for (;;) {
      if (KorHookSays(hooks_.stopped)) {
        outcome = {kKorStopped, "Task cancelled.", false};
        break;
      }
      KorBackupMessage message;
      if (!ReceiveNext(&message)) {
        outcome = ReceiveFailure("Task error.");
        break;
      }
      NoteProgress(message);
      if (HandleBackupMessage(message, &outcome) == Step::kEnd) break;
    }
  }
  // What the command waited for stays on disk even when the rest of the backup never came.
  if (progress_ < 100 && !outcome.all_wanted_arrived) {
    KLOG(INFO) << "incomplete backup removed: " << paths_.Folder();
    kst::RemoveTree(paths_.Folder());
  }
  return outcome;
}

KorBackupTransfer::Step KorBackupTransfer::HandleRestoreMessage(const KorBackupMessage& message,
                                                                KorBackupOutcome* outcome) {
  switch (message.kind) {
    case kKorBackupDownloadFiles:
      if (!SendDownloads(message.paths) || !SendStatusWithEmptyDict()) {
        KLOG(WARNING) << "could not send message  ";
        *outcome = ReceiveFailure("Task error Unknown.");
        return Step::kEnd;
      }
      return Step::kGoOn;
    case kKorBackupProcessMessage:
      if (!message.has_error_code) return Step::kGoOn;
      LogDeviceError(message);
      *outcome = {static_cast<int32_t>(message.error_code), message.error_description, false};
      return Step::kEnd;
    case kKorBackupDisconnect:
      *outcome = {kKorBackupDeviceGone, "", false};
      return Step::kEnd;
    default:
      return Step::kGoOn;
  }
}

KorBackupOutcome KorBackupTransfer::RunRestore() {
  KorTransferWatch watch(hooks_);
  for (;;) {
    if (KorHookSays(hooks_.stopped)) return {kKorStopped, "Task cancelled.", false};
    KorBackupMessage message;
    if (!ReceiveNext(&message)) return ReceiveFailure("Task error Unknown.");
    NoteProgress(message);
    KorBackupOutcome outcome;
    if (HandleRestoreMessage(message, &outcome) == Step::kEnd) return outcome;
  }
}
