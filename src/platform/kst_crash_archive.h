// Packs the files of a crash into one ZIP archive (minizip), each under its own file name.
#pragma once

#include <string>
#include <vector>

namespace kst {

// Files that cannot be read are left out; false when the archive cannot be created.
bool PackCrashArchive(const std::string& archive_path, const std::vector<std::string>& files);
// This process's log files in `folder`: regular files whose names hold ".log." and end in ".<pid>".
std::vector<std::string> ProcessLogFiles(const std::string& folder, long long pid);

}  // namespace kst
