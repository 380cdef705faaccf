// Where the device's backup paths land on the computer, and the confinement of every path the
// device names to the backup folder.
#pragma once

#include <string>

// The folder suffix of a backup started at `seconds` (local time): "-%Y%m%d%H%M%S". Clock values
// before 1970 or at or after 32535194400 are taken as 0.
std::string KorBackupFolderSuffix(int64_t seconds);

class KorBackupPaths {
 public:
  // `root` holds one sub-folder per backup; a missing trailing "/" is added.
  KorBackupPaths(std::string root, std::string udid, std::string suffix);
  // The paths of an existing backup folder (restores): device paths that start with
  // `source_udid` land inside `folder`, whatever the folder is called.
  static KorBackupPaths ForFolder(const std::string& folder, const std::string& source_udid);

  const std::string& Root() const { return root_; }
  // root + udid + suffix + "/" (or the folder given to ForFolder, with a trailing "/").
  const std::string& Folder() const { return folder_; }

  // The plain mapping: the suffix goes right after the first occurrence of the device
  // identifier, and the root goes in front. A path without the identifier gets no suffix.
  std::string Map(const std::string& device_path) const;
  // The mapping of a path the device may use: relative, without "..", landing inside the backup
  // folder and crossing no symbolic link there. False (with the reason in *why) otherwise.
  bool Confine(const std::string& device_path, std::string* local_path, std::string* why) const;

 private:
  bool CrossesSymlink(const std::string& local_path) const;

  std::string root_;
  std::string folder_;
  std::string udid_;
  std::string suffix_;
};
