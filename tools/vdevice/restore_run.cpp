// The device's side of a restore: it asks the computer for the backup's Manifest.plist (and
// checks the password of an encrypted backup against its key bag), then Manifest.db, then every
// file Manifest.db lists, in batches. What arrives is kept in the profile's
// mobilebackup2/restored/ folder under the backup's own layout, so a test can compare it.
#include <cstdio>
#include <map>
#include <memory>

#include "backup_conversation.h"
#include "backup_manifest.h"
#include "log.h"
#include "platform/kst_fs.h"

namespace vdevice {

namespace {

constexpr size_t kFilesPerRequest = 64;
constexpr double kManifestProgress = 1.0;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Writes the files the computer sends to the local paths the device asked them for; a file the
// computer names that was not asked for is read and dropped.
class RestoreSink : public HostFileSink {
 public:
  explicit RestoreSink(std::map<std::string, std::string> wanted) : wanted_(std::move(wanted)) {}

  void Begin(const std::string& path) override {
    auto found = wanted_.find(path);
    current_path_.clear();
    file_.reset();
    if (found == wanted_.end()) {
      LogLine("mobilebackup2 restore: the computer sent \"%s\", which was not asked for; dropped", path.c_str());
      return;
    }
    current_path_ = found->second;
    kst::CreateDirectories(kst::ParentFolder(current_path_));
    file_.reset(std::fopen(current_path_.c_str(), "wb"));
  }

  void Data(const char* bytes, size_t length) override {
    if (file_ && std::fwrite(bytes, 1, length, file_.get()) != length) file_.reset();
  }

  void End(bool ok, const std::string& error_text) override {
    bool written = file_ != nullptr;
    file_.reset();
    if (current_path_.empty()) return;
    if (ok && written) {
      ++received_;
      return;
    }
    std::remove(current_path_.c_str());
    ++missing_;
    LogLine("mobilebackup2 restore: %s did not arrive (%s)", current_path_.c_str(), error_text.c_str());
  }

  size_t received() const { return received_; }
  size_t missing() const { return missing_; }

 private:
  std::map<std::string, std::string> wanted_;
  std::string current_path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  size_t received_ = 0;
  size_t missing_ = 0;
};

// A Manifest.db names files by 40 hexadecimal digits, with "-wal"/"-shm" for companions; any
// other name would place the file somewhere the device did not mean.
bool PlausibleFileId(const std::string& id) {
  std::string digits = id.substr(0, 40);
  std::string suffix = id.substr(std::min<size_t>(id.size(), 40));
  return digits.size() == 40 && digits.find_first_not_of("0123456789abcdef") == std::string::npos &&
         (suffix.empty() || suffix == "-wal" || suffix == "-shm");
}

class RestoreRun {
 public:
  RestoreRun(BackupConversation& conversation, plist_t request) : c_(conversation), request_(request) {}

  void Run() {
    source_ = DictString(request_, "SourceIdentifier").value_or(c_.udid());
    password_ = DictString(DictItem(request_, "Options", PLIST_DICT), "Password").value_or("");
    folder_ = c_.DataFolder() + "/restored";
    kst::RemoveTree(folder_);
    kst::CreateDirectories(folder_);
    if (!c_.SendHostileMessages({"download"}, source_)) return;
    uint64_t code = kBackupErrorNone;
    std::string description;
    if (!FetchManifest(&code, &description)) return;
    if (code == kBackupErrorNone && !FetchFiles(&code, &description)) return;
    if (c_.Finish(code, description)) c_.WaitForHostEnd(false);
  }

 private:
  bool FetchOne(const std::string& name, double progress, size_t* received) {
    std::map<std::string, std::string> wanted;
    wanted[source_ + "/" + name] = folder_ + "/" + name;
    RestoreSink sink(std::move(wanted));
    bool answered = c_.Download({source_ + "/" + name}, progress, sink);
    *received = sink.received();
    return answered;
  }

  // False when the computer went away; otherwise *code says whether the restore can go on.
  bool FetchManifest(uint64_t* code, std::string* description) {
    size_t received = 0;
    if (!FetchOne("Manifest.plist", 0, &received)) return false;
    std::string text;
    PlistPtr manifest = received && kst::ReadWholeFile(folder_ + "/Manifest.plist", &text)
                            ? ParsePlist(text.data(), text.size())
                            : nullptr;
    if (!manifest) {
      *code = kBackupErrorUnknownRequest;
      *description = "The backup has no readable Manifest.plist";
      return true;
    }
    if (!PasswordOpensManifest(manifest.get(), password_)) {
      *code = kBackupErrorWrongPassword;
      *description = "Wrong password";
      return true;
    }
    if (!FetchOne("Manifest.db", kManifestProgress, &received)) return false;
    std::string error;
    std::optional<std::vector<std::string>> ids =
        received ? ReadManifestFileIds(folder_ + "/Manifest.db", &error) : std::nullopt;
    if (!ids) {
      *code = kBackupErrorUnknownRequest;
      *description = "The backup has no readable Manifest.db";
      LogLine("%s mobilebackup2 restore: %s", c_.udid().c_str(), error.c_str());
      return true;
    }
    for (const std::string& id : *ids) {
      if (PlausibleFileId(id)) file_ids_.push_back(id);
    }
    return true;
  }

  bool FetchFiles(uint64_t* code, std::string* description) {
    size_t received = 0, missing = 0;
    for (size_t first = 0; first < file_ids_.size(); first += kFilesPerRequest) {
      std::map<std::string, std::string> wanted;
      std::vector<std::string> paths;
      for (size_t i = first; i < std::min(file_ids_.size(), first + kFilesPerRequest); ++i) {
        std::string name = file_ids_[i].substr(0, 2) + "/" + file_ids_[i];
        paths.push_back(source_ + "/" + name);
        wanted[paths.back()] = folder_ + "/" + name;
      }
      RestoreSink sink(std::move(wanted));
      double progress = kManifestProgress + (100.0 - kManifestProgress) * static_cast<double>(first) /
                                                static_cast<double>(file_ids_.size());
      if (!c_.Download(paths, progress, sink)) return false;
      received += sink.received();
      missing += sink.missing();
    }
    LogLine("%s mobilebackup2 restore: %zu files received, %zu missing", c_.udid().c_str(), received, missing);
    if (missing > 0) {
      *code = kBackupErrorUnknownRequest;
      *description = std::to_string(missing) + " files of the backup could not be restored";
    }
    return true;
  }

  BackupConversation& c_;
  plist_t request_;
  std::string source_;
  std::string password_;
  std::string folder_;
  std::vector<std::string> file_ids_;
};

}  // namespace

void RunRestore(BackupConversation& conversation, plist_t request) { RestoreRun(conversation, request).Run(); }

}  // namespace vdevice
