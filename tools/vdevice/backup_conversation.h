// One conversation on com.apple.mobilebackup2 after the greeting: the device's side of a
// request (Backup, Restore, ChangePassword, Info, EnableCloudBackup). The device drives: it
// sends file-operation messages and reads the computer's status response to each, and ends
// the request with a DLMessageProcessMessage carrying ErrorCode (0 for success).
#pragma once

#include <string>
#include <vector>

#include "backup_catalog.h"
#include "backup_file_framing.h"
#include "device_link.h"
#include "device_service.h"

namespace vdevice {

// Device error codes the simulated phone ends requests with.
inline constexpr uint64_t kBackupErrorNone = 0;
inline constexpr uint64_t kBackupErrorUnknownRequest = 1;
inline constexpr uint64_t kBackupErrorNoSpace = 105;
inline constexpr uint64_t kBackupErrorWrongPassword = 207;
inline constexpr uint64_t kBackupErrorDeviceLocked = 208;

class BackupConversation {
 public:
  explicit BackupConversation(ServiceContext& context);

  ServiceStream& stream() { return context_.stream; }
  VirtualDevice& device() { return context_.device; }
  const std::string& udid() const { return context_.device.udid(); }
  std::string DataFolder() const { return context_.device.profile().DataFolder("mobilebackup2"); }
  const std::atomic<bool>& stopping() const { return context_.stopping; }

  // Reads the computer's status response; false when it went away or answered something else.
  bool ReadStatus(const char* after);
  // Sends a message and reads the status response to it.
  bool Exchange(const DeviceLinkMessage& message);
  // DLMessageDownloadFiles for `paths`: the computer's files go to `sink`, then its status.
  bool Download(const std::vector<std::string>& paths, double progress, HostFileSink& sink);
  // Ends the request with a process message carrying `code` (and `description` unless empty).
  bool Finish(uint64_t code, const std::string& description, const std::string& content = "");
  // After the final process message: waits for the computer's answer or its disconnect, then
  // says DLMessageDisconnect when `say_disconnect` and the computer is still there.
  void WaitForHostEnd(bool say_disconnect);
  // The armed hostile paths of these operations, sent as the messages of that kind would be;
  // "@SOURCE@" in them stands for `source` (the backup a restore reads).
  bool SendHostileMessages(const std::vector<std::string>& operations, const std::string& source);

 private:
  ServiceContext& context_;
};

// A sink for files the device does not keep (a backup's look at an earlier backup).
class DiscardingSink : public HostFileSink {
 public:
  void Begin(const std::string& path) override { path_ = path; }
  void Data(const char*, size_t length) override { bytes_ += length; }
  void End(bool ok, const std::string& error_text) override;

 private:
  std::string path_;
  uint64_t bytes_ = 0;
};

// The requests; `request` is the dict of the computer's process message.
void RunBackup(BackupConversation& conversation, plist_t request);
void RunRestore(BackupConversation& conversation, plist_t request);
void RunChangePassword(BackupConversation& conversation, plist_t request);
void RunInfo(BackupConversation& conversation, plist_t request);
void RunEnableCloudBackup(BackupConversation& conversation, plist_t request);

// "@UDID@" in a path a test armed stands for the device's identifier, "@SOURCE@" for `source`.
std::string ExpandPlaceholders(const std::string& path, const std::string& udid, const std::string& source);

}  // namespace vdevice
