// The summary of a backup folder on disk, and the walk of backup roots that finds them.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

// A folder is a backup when it holds "Info.plist", "Status.plist" and "Manifest.plist".
bool KorIsBackupFolder(const std::string& folder);
// The summary of a backup folder as a JSON object; false when the folder is not a backup or its
// "Info.plist" does not parse.
bool KorReadBackupSummary(const std::string& folder, rapidjson::Document* summary);
// The backup folders under each root (the root itself when it is a backup, else its immediate
// sub-folders that are), each once, in the order found. An empty root stands for `default_root`.
std::vector<std::string> KorFindBackupFolders(const std::vector<std::string>& roots, const std::string& default_root);
// The total size in bytes of every file under a folder.
int64_t KorFolderSize(const std::string& folder);
// The user's default backup root: the user's data folder ($XDG_DATA_HOME, else
// $HOME/.local/share) + "/Apple Computer/MobileSync/Backup/".
std::string KorDefaultBackupRoot();
