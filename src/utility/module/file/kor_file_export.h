// Exporting device items to a folder on the computer: files are copied, book folders (".epub")
// are copied as folders, other folders become ZIP archives.
#pragma once

#include <functional>
#include <string>

#include "devicefw/device_framework_abi.h"

// Every character below 32, 127 and \ / : * ? " < | becomes "_".
std::string KorCleanExportName(const std::string& name);
// The path itself when nothing is there, else the name with "(n)" before its extension.
std::string KorFreeLocalPath(const std::string& path);
// The local path of an item: the folder, "/" unless it already ends with "/" or "\", the name.
std::string KorExportTarget(const std::string& folder, const std::string& cleaned_name);

struct KorExportedItem {
  std::string native_path;
  std::string name;
};

// Copies one device item; false when it is neither a file nor a folder (then nothing is done).
bool KorExportItem(AFCConnectionRef afc, const std::string& device_path, const std::string& display_name,
                   const std::string& folder, KorExportedItem* exported);
