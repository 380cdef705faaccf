// The short requests of the backup service: ChangePassword (turns backup encryption on, off, or
// changes its password; WillEncrypt in com.apple.mobile.backup follows), Info (a summary of the
// computer's latest backup of this device) and EnableCloudBackup.
#include "backup_conversation.h"
#include "log.h"

namespace vdevice {

namespace {

constexpr const char* kBackupDomain = "com.apple.mobile.backup";
constexpr size_t kMaxInfoPlistBytes = 8u << 20;

bool WillEncrypt(const VirtualDevice& device) {
  PlistPtr value = device.GetValue(kBackupDomain, "WillEncrypt");
  uint8_t on = 0;
  if (value && plist_get_node_type(value.get()) == PLIST_BOOLEAN) plist_get_bool_val(value.get(), &on);
  return on != 0;
}

// Keeps one small file the computer sends in memory.
class MemorySink : public HostFileSink {
 public:
  void Begin(const std::string&) override { content_.clear(); }
  void Data(const char* bytes, size_t length) override {
    if (content_.size() + length <= kMaxInfoPlistBytes) content_.append(bytes, length);
  }
  void End(bool ok, const std::string&) override { ok_ = ok; }
  bool ok() const { return ok_; }
  const std::string& content() const { return content_; }

 private:
  std::string content_;
  bool ok_ = false;
};

std::string InfoLine(plist_t info, const char* key) {
  std::optional<std::string> value = DictString(info, key);
  return value ? std::string(key) + ": " + *value + "\n" : "";
}

}  // namespace

void RunChangePassword(BackupConversation& conversation, plist_t request) {
  VirtualDevice& device = conversation.device();
  std::optional<std::string> old_password = DictString(request, "OldPassword");
  std::optional<std::string> new_password = DictString(request, "NewPassword");
  std::string current = device.backup_password();
  if (WillEncrypt(device) && !current.empty() && old_password.value_or("") != current) {
    if (conversation.Finish(kBackupErrorWrongPassword, "Wrong password")) conversation.WaitForHostEnd(false);
    return;
  }
  bool encrypt = new_password && !new_password->empty();
  device.SetBackupPassword(encrypt ? *new_password : "");
  device.SetValue(kBackupDomain, "WillEncrypt", PlistPtr(plist_new_bool(encrypt)));
  LogLine("%s mobilebackup2: backup encryption %s", conversation.udid().c_str(), encrypt ? "on" : "off");
  if (conversation.Finish(kBackupErrorNone, "")) conversation.WaitForHostEnd(false);
}

void RunInfo(BackupConversation& conversation, plist_t request) {
  std::string source = DictString(request, "SourceIdentifier").value_or(conversation.udid());
  MemorySink sink;
  if (!conversation.Download({source + "/Info.plist"}, 0, sink)) return;
  PlistPtr info = sink.ok() ? ParsePlist(sink.content().data(), sink.content().size()) : nullptr;
  if (!info || plist_get_node_type(info.get()) != PLIST_DICT) {
    if (conversation.Finish(kBackupErrorUnknownRequest, "No backup of this device")) conversation.WaitForHostEnd(false);
    return;
  }
  std::string content;
  for (const char* key : {"Device Name", "Product Type", "Product Version", "Build Version", "Serial Number",
                          "Unique Identifier"}) {
    content += InfoLine(info.get(), key);
  }
  if (conversation.Finish(kBackupErrorNone, "", content)) conversation.WaitForHostEnd(false);
}

void RunEnableCloudBackup(BackupConversation& conversation, plist_t request) {
  bool on = DictBool(request, "CloudBackupState").value_or(false);
  conversation.device().SetValue(kBackupDomain, "CloudBackupEnabled", PlistPtr(plist_new_bool(on)));
  if (conversation.Finish(kBackupErrorNone, "")) conversation.WaitForHostEnd(false);
}

}  // namespace vdevice
