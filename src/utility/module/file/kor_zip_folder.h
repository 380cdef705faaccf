// Writes a ZIP archive of every file under a folder on the computer.
#pragma once

#include <string>

// Entries are named by their path relative to `folder`, dated with the file's last-write time in
// local time, and deflated raw at the default level. A file that cannot be read is logged and
// left out; false only when the archive itself cannot be written.
bool KorZipFolder(const std::string& folder, const std::string& archive_path);
