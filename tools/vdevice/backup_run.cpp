// The device's side of a backup: it looks for the computer's earlier backup, asks for free
// space, creates the hashed-name folders, uploads its files in batches, writes Manifest.db,
// Manifest.plist and Status.plist, and ends with ErrorCode 0. Progress travels as a real in
// every upload, move and remove message; Status.plist is the last file, sent at 100 %.
#include <algorithm>
#include <ctime>
#include <set>

#include "backup_conversation.h"
#include "backup_manifest.h"
#include "log.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace vdevice {

namespace {

// Progress of the file batches runs to this; the closing steps take it to 100.
constexpr double kFilesDoneProgress = 99.0;
constexpr double kManifestProgress = 99.5;
constexpr double kMoveProgress = 99.6;
constexpr double kRemoveProgress = 99.7;
constexpr double kFinishedProgress = 100.0;
constexpr uint64_t kPasscodePollMs = 20;

// How the backup ends early when a disconnect or unplug fault is armed.
struct ProgressFault {
  FaultKind kind = FaultKind::kDisconnectAt;
  double percent = 0;
};

class BackupRun {
 public:
  BackupRun(BackupConversation& conversation, plist_t request) : c_(conversation), request_(request) {}

  void Run() {
    std::string error;
    if (LoadBackupSettings(c_.DataFolder(), &settings_, &error) != 0) {
      LogLine("%s mobilebackup2: %s", c_.udid().c_str(), error.c_str());
      c_.Finish(kBackupErrorUnknownRequest, "The backup settings cannot be read");
      return;
    }
    c_.stream().SetDefaultPace(settings_.pace_mbps);
    catalog_ = BuildBackupCatalog(c_.DataFolder(), settings_);
    for (const BackupFileEntry& entry : catalog_) total_bytes_ += entry.size;
    ArmProgressFaults();
    if (!WaitOutFaults()) return;
    if (!LookAtEarlierBackup() || !CheckFreeSpace() || !SendStrayMessages() ||
        !c_.SendHostileMessages({"mkdir", "move", "remove", "upload"}, c_.udid()) ||
        !CreateFolders() || !UploadCatalog() || !UploadManifests() || !MoveAndRemove() || !UploadStatus()) {
      return;
    }
    if (c_.Finish(kBackupErrorNone, "")) c_.WaitForHostEnd(true);
  }

 private:
  std::string BackupPath(const std::string& name) const { return c_.udid() + "/" + name; }
  std::string HashedPath(const BackupFileEntry& entry) const {
    return BackupPath(entry.file_id.substr(0, 2) + "/" + entry.file_id);
  }

  void ArmProgressFaults() {
    for (FaultKind kind : {FaultKind::kDisconnectAt, FaultKind::kUnplugAt, FaultKind::kFinishAt}) {
      if (std::optional<Fault> fault = c_.device().faults().Take(c_.stream().service(), kind)) {
        progress_faults_.push_back({kind, std::strtod(fault->value.c_str(), nullptr)});
      }
    }
  }

  // A large device's long quiet start, and the passcode prompt of newer systems.
  bool WaitOutFaults() {
    ServiceStream& stream = c_.stream();
    if (std::optional<Fault> silence = c_.device().faults().Take(stream.service(), FaultKind::kSilence)) {
      LogLine("fault: %s mobilebackup2 stays silent %llu ms before the backup", c_.udid().c_str(),
              static_cast<unsigned long long>(silence->amount));
      SleepUnlessStopping(silence->amount, &c_.stopping());
    }
    std::optional<Fault> prompt = c_.device().faults().Take(stream.service(), FaultKind::kPasscode);
    if (!prompt) return true;
    LogLine("fault: %s asks for its passcode before the backup (%llu ms)", c_.udid().c_str(),
            static_cast<unsigned long long>(prompt->amount));
    c_.device().TakePasscodeEntry();
    for (uint64_t waited = 0; waited < prompt->amount && !c_.stopping().load(); waited += kPasscodePollMs) {
      if (c_.device().TakePasscodeEntry()) {
        LogLine("%s: passcode entered, the backup goes on", c_.udid().c_str());
        return true;
      }
      SleepUnlessStopping(kPasscodePollMs, &c_.stopping());
    }
    if (c_.Finish(kBackupErrorDeviceLocked, "Device locked")) c_.WaitForHostEnd(true);
    return false;
  }

  bool LookAtEarlierBackup() {
    DiscardingSink sink;
    return c_.Download({BackupPath("Status.plist")}, 0, sink) && c_.Download({BackupPath("Manifest.plist")}, 0, sink);
  }

  bool CheckFreeSpace() {
    if (!SendDeviceLink(c_.stream(), DeviceLinkMessage("DLMessageGetFreeDiskSpace").String(kEmptyParameterString))) {
      return false;
    }
    HostMessage reply;
    if (ReadHostMessage(c_.stream(), &reply) != HostRead::kMessage || reply.name != "DLMessageStatusResponse") {
      LogLine("%s mobilebackup2: no free-space answer", c_.udid().c_str());
      return false;
    }
    plist_t free_node = plist_array_get_item(reply.array.get(), 3);
    uint64_t free_bytes = 0;
    if (plist_get_node_type(free_node) == PLIST_UINT) plist_get_uint_val(free_node, &free_bytes);
    LogDetail("%s mobilebackup2: the computer has %llu bytes free", c_.udid().c_str(),
              static_cast<unsigned long long>(free_bytes));
    if (plist_get_node_type(free_node) != PLIST_UINT || free_bytes >= total_bytes_) return true;
    if (c_.Finish(kBackupErrorNoSpace, "Insufficient free disk space on drive to upload files")) {
      c_.WaitForHostEnd(true);
    }
    return false;
  }

  // A name that differs from DLMessageDisconnect only in case: the computer is to skip it, unanswered.
  bool SendStrayMessages() {
    if (!c_.device().faults().Take(c_.stream().service(), FaultKind::kStray)) return true;
    LogLine("fault: %s mobilebackup2 sends DLMessageDISCONNECT", c_.udid().c_str());
    return SendDeviceLink(c_.stream(), DeviceLinkMessage("DLMessageDISCONNECT").String(kEmptyParameterString));
  }

  bool CreateFolders() {
    std::set<std::string> folders;
    for (const BackupFileEntry& entry : catalog_) {
      if (!entry.directory) folders.insert(entry.file_id.substr(0, 2));
    }
    for (const std::string& folder : folders) {
      if (!c_.Exchange(DeviceLinkMessage("DLMessageCreateDirectory").String(BackupPath(folder)))) return false;
    }
    return true;
  }

  // The progress a message carries; a progress fault at or below it takes its place and ends
  // the backup right after that message.
  double Checkpoint(double progress) {
    for (const ProgressFault& fault : progress_faults_) {
      if (progress >= fault.percent && !pending_fault_) {
        pending_fault_ = fault;
        return fault.percent;
      }
    }
    return progress;
  }

  // Fires a pending progress fault; true when the backup must end here.
  bool FiredProgressFault() {
    if (!pending_fault_) return false;
    if (pending_fault_->kind == FaultKind::kUnplugAt) {
      LogLine("fault: %s is unplugged at %.2f %%", c_.udid().c_str(), pending_fault_->percent);
      c_.device().Unplug();
    } else if (pending_fault_->kind == FaultKind::kFinishAt) {
      LogLine("fault: %s mobilebackup2 declares the backup done at %.2f %%", c_.udid().c_str(), pending_fault_->percent);
      if (c_.Finish(kBackupErrorNone, "")) c_.WaitForHostEnd(true);
    } else {
      LogLine("fault: %s mobilebackup2 disconnects at %.2f %%", c_.udid().c_str(), pending_fault_->percent);
      SendDeviceLink(c_.stream(), DeviceLinkMessage("DLMessageDisconnect").String(kEmptyParameterString));
    }
    return true;
  }

  bool UploadBatch(const std::vector<const BackupFileEntry*>& files, double progress) {
    uint64_t batch_bytes = 0;
    for (const BackupFileEntry* file : files) batch_bytes += file->size;
    DeviceLinkMessage message("DLMessageUploadFiles");
    message.Node(MakeDict()).Real(Checkpoint(progress)).Unsigned(batch_bytes);
    if (!SendDeviceLink(c_.stream(), message)) return false;
    for (const BackupFileEntry* file : files) {
      BackupFileReader reader(*file);
      auto read = [&reader](uint64_t offset, char* buffer, size_t length) { return reader.Read(offset, buffer, length); };
      if (!UploadFile(c_.stream(), file->domain + "/" + file->relative_path, HashedPath(*file), file->size, read)) {
        return false;
      }
    }
    return EndFileList(c_.stream()) && c_.ReadStatus("DLMessageUploadFiles") && !FiredProgressFault();
  }

  bool UploadCatalog() {
    std::vector<const BackupFileEntry*> batch;
    uint64_t done_bytes = 0, done_files = 0, file_count = 0;
    for (const BackupFileEntry& entry : catalog_) file_count += entry.directory ? 0 : 1;
    for (const BackupFileEntry& entry : catalog_) {
      if (entry.directory) continue;
      batch.push_back(&entry);
      if (batch.size() < settings_.batch_files) continue;
      if (!UploadBatch(batch, Progress(done_bytes, done_files, file_count))) return false;
      for (const BackupFileEntry* file : batch) done_bytes += file->size;
      done_files += batch.size();
      batch.clear();
    }
    return batch.empty() || UploadBatch(batch, Progress(done_bytes, done_files, file_count));
  }

  double Progress(uint64_t done_bytes, uint64_t done_files, uint64_t file_count) const {
    if (total_bytes_ > 0) return kFilesDoneProgress * static_cast<double>(done_bytes) / static_cast<double>(total_bytes_);
    return file_count == 0 ? 0 : kFilesDoneProgress * static_cast<double>(done_files) / static_cast<double>(file_count);
  }

  // Manifest.db goes up under a temporary name and is moved into place, as the phone does.
  bool UploadManifests() {
    std::string database_path = kst::TempFolder() + "vdevice-manifest-" + std::to_string(kst::CurrentProcessId()) +
                                "-" + c_.udid() + ".db";
    std::string error;
    if (WriteManifestDatabase(database_path, catalog_, &error) != 0) {
      LogLine("%s mobilebackup2: %s", c_.udid().c_str(), error.c_str());
      std::remove(database_path.c_str());
      return c_.Finish(kBackupErrorUnknownRequest, "Manifest.db cannot be written") && false;
    }
    std::string database;
    bool read = kst::ReadWholeFile(database_path, &database);
    std::remove(database_path.c_str());
    std::string manifest = ToBinary(MakeManifestPlist(c_.device(), Password(), std::time(nullptr)).get());
    return read && UploadMemoryFiles({{"Manifest.plist", manifest}, {"Manifest.db.new", database}},
                                     kManifestProgress);
  }

  std::string Password() const {
    PlistPtr will_encrypt = c_.device().GetValue("com.apple.mobile.backup", "WillEncrypt");
    uint8_t on = 0;
    if (will_encrypt && plist_get_node_type(will_encrypt.get()) == PLIST_BOOLEAN) plist_get_bool_val(will_encrypt.get(), &on);
    if (!on) return "";
    std::string password = c_.device().backup_password();
    if (password.empty()) password = settings_.password.empty() ? "vdevice" : settings_.password;
    return password;
  }

  bool UploadMemoryFiles(const std::vector<std::pair<std::string, std::string>>& files, double progress) {
    uint64_t bytes = 0;
    for (const auto& file : files) bytes += file.second.size();
    DeviceLinkMessage message("DLMessageUploadFiles");
    message.Node(MakeDict()).Real(Checkpoint(progress)).Unsigned(bytes);
    if (!SendDeviceLink(c_.stream(), message)) return false;
    for (const auto& file : files) {
      const std::string& name = file.first;
      const std::string& content = file.second;
      auto read = [&content](uint64_t offset, char* buffer, size_t length) {
        content.copy(buffer, length, static_cast<size_t>(offset));
        return true;
      };
      if (!UploadFile(c_.stream(), name, BackupPath(name), content.size(), read)) return false;
    }
    return EndFileList(c_.stream()) && c_.ReadStatus("DLMessageUploadFiles") && !FiredProgressFault();
  }

  bool MoveAndRemove() {
    PlistPtr moves = MakeDict();
    SetString(moves.get(), BackupPath("Manifest.db.new").c_str(), BackupPath("Manifest.db"));
    DeviceLinkMessage move("DLMessageMoveItems");
    move.Node(std::move(moves)).Node(MakeDict()).Real(Checkpoint(kMoveProgress));
    if (!c_.Exchange(move) || FiredProgressFault()) return false;
    // The index file of the oldest backup format, which a computer may still hold.
    PlistPtr removes(plist_new_array());
    plist_array_append_item(removes.get(), plist_new_string(BackupPath("Manifest.mbdx").c_str()));
    DeviceLinkMessage remove("DLMessageRemoveItems");
    remove.Node(std::move(removes)).Node(MakeDict()).Real(Checkpoint(kRemoveProgress));
    return c_.Exchange(remove) && !FiredProgressFault();
  }

  bool UploadStatus() {
    bool full = DictBool(DictItem(request_, "Options", PLIST_DICT), "ForceFullBackup").value_or(true);
    std::string status = ToBinary(MakeStatusPlist(full, std::time(nullptr)).get());
    return UploadMemoryFiles({{"Status.plist", status}}, kFinishedProgress);
  }

  BackupConversation& c_;
  plist_t request_;
  BackupSettings settings_;
  std::vector<BackupFileEntry> catalog_;
  uint64_t total_bytes_ = 0;
  std::vector<ProgressFault> progress_faults_;
  std::optional<ProgressFault> pending_fault_;
};

}  // namespace

void RunBackup(BackupConversation& conversation, plist_t request) { BackupRun(conversation, request).Run(); }

}  // namespace vdevice
