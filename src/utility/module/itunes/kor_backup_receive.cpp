#include "utility/module/itunes/kor_backup_receive.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "iOSAPI/kor_device_link_files.h"
#include "platform/kst_file.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "utility/module/itunes/kor_backup_disk.h"

namespace {

// One file being received: where it goes, and whether it is being written at all.
class KorIncomingFile {
 public:
  KorIncomingFile(const KorBackupPaths& paths, const std::string& device_path, bool name_too_long) {
    std::string why = "name too long";
    if (name_too_long || !paths.Confine(device_path, &local_path_, &why)) {
      KorLogRefusedPath("upload", device_path, why);
      local_path_.clear();
      return;
    }
    kst::CreateDirectories(kst::ParentFolder(local_path_));
    if (int error = file_.Open(local_path_, kst::FileOpenMode::kWriteTruncate); error != 0) {
      KLOG(WARNING) << "upload: cannot write '" << local_path_ << "': " << error;
      local_path_.clear();  // whatever is there was not made by this upload
    }
  }

  bool Writing() const { return file_.Valid() && write_error_ == 0; }
  const std::string& LocalPath() const { return local_path_; }

  bool Append(const uint8_t* bytes, size_t length) {
    if (!Writing()) return false;
    write_error_ = file_.Write(bytes, length);
    if (write_error_ != 0) KLOG(ERROR) << "upload: write to '" << local_path_ << "' failed: " << write_error_;
    return write_error_ == 0;
  }

  // Closes the file; a file that could not be written whole is not left behind half-written.
  bool Finish() {
    const bool whole = file_.Valid() && write_error_ == 0;
    file_.Close();
    if (!whole) Discard();
    return whole;
  }

  void Discard() {
    file_.Close();
    if (local_path_.empty()) return;
    std::error_code error;
    std::filesystem::remove(local_path_, error);
  }

 private:
  std::string local_path_;
  kst::KstFile file_;
  int write_error_ = 0;
};

}  // namespace

KorUploadEnd KorReceiveUploadedFiles(const KorServiceIo& io, const KorBackupPaths& paths, const KorBackupHooks& hooks) {
  KorDLFileReader reader(io);
  for (;;) {
    if (KorHookSays(hooks.device_gone)) return KorUploadEnd::kDeviceGone;
    std::string device_name;
    std::string backup_path;
    bool too_long = false;
    KorDLRead read = reader.ReadName(&device_name, &too_long);
    if (read != KorDLRead::kOk) return read == KorDLRead::kEndOfList ? KorUploadEnd::kListEnded : KorUploadEnd::kFailed;
    read = reader.ReadName(&backup_path, &too_long);
    if (read != KorDLRead::kOk) return read == KorDLRead::kEndOfList ? KorUploadEnd::kListEnded : KorUploadEnd::kFailed;

    KorIncomingFile file(paths, backup_path, too_long);
    KorDLFileEnd end;
    read = reader.ReadData([&file](const uint8_t* bytes, size_t length) { return file.Append(bytes, length); }, &end);
    if (read == KorDLRead::kFailed) {
      file.Discard();
      return KorUploadEnd::kFailed;
    }
    const bool written = file.Finish();
    if (read == KorDLRead::kOk && end.code == kKorDLFileRemoteError) {
      std::fprintf(stdout, "\nReceived an error message from device: %s\n", end.text.c_str());
    }
    if (written && hooks.file_arrived && hooks.file_arrived(file.LocalPath())) return KorUploadEnd::kAllWanted;
    if (read == KorDLRead::kEndOfList) return KorUploadEnd::kListEnded;
  }
}
