// Files and folders on the computer.
#pragma once

#include <cstdint>
#include <string>

namespace kst {

// The temporary folder ($TMPDIR, else /tmp), always ending in "/".
std::string TempFolder();
// Creates the folder with every missing parent; true when it exists afterwards.
bool CreateDirectories(const std::string& path);
// Removes the folder with its contents (a trailing "/" is ignored); true when it is gone.
bool RemoveTree(const std::string& path);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// The size of a regular file, or -1.
int64_t FileSize(const std::string& path);
// Reads a whole file into *out; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* out);
bool WriteWholeFile(const std::string& path, const std::string& content);
// The folder of a path (text before its last "/"), without the slash.
std::string ParentFolder(const std::string& path);

}  // namespace kst
