#include "utility/module/file/kor_file_export.h"

#include <cctype>

#include "iOSAPI/kor_afc.h"
#include "platform/kst_fs.h"
#include "utility/module/file/kor_zip_folder.h"

namespace {

enum class ItemKind { kFile, kBook, kFolder, kOther };

ItemKind Classify(const KorAfcFileInfo& info, const std::string& path) {
  if (info.type == "S_IFREG") return ItemKind::kFile;
  if (info.type != "S_IFDIR") return ItemKind::kOther;
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string suffix = ".EPUB";
  bool book = upper.size() >= suffix.size() && upper.compare(upper.size() - suffix.size(), suffix.size(), suffix) == 0;
  return book ? ItemKind::kBook : ItemKind::kFolder;
}

// The folder is copied beside the archive-to-be, packed, and the copy removed.
void ExportFolderAsZip(AFCConnectionRef afc, const std::string& device_path, const std::string& archive) {
  std::string copy = archive + ".folder";
  kst::CreateDirectories(copy);
  KorAfcDownloadTree(afc, device_path, copy);
  KorZipFolder(copy, archive);
  kst::RemoveTree(copy);
}

}  // namespace

std::string KorCleanExportName(const std::string& name) {
  std::string cleaned = name;
  for (char& c : cleaned) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool forbidden = byte < 32 || byte == 127 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' ||
                     c == '"' || c == '<' || c == '|';
    if (forbidden) c = '_';
  }
  return cleaned;
}

std::string KorFreeLocalPath(const std::string& path) {
  if (!kst::PathExists(path)) return path;
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  std::string stem = has_extension ? path.substr(0, dot) : path;
  std::string extension = has_extension ? path.substr(dot) : std::string();
  for (int n = 1;; ++n) {
    std::string candidate = stem + "(" + std::to_string(n) + ")" + extension;
    if (!kst::PathExists(candidate)) return candidate;
  }
}

std::string KorExportTarget(const std::string& folder, const std::string& cleaned_name) {
  bool separated = !folder.empty() && (folder.back() == '/' || folder.back() == '\\');
  return folder + (separated ? "" : "/") + cleaned_name;
}

bool KorExportItem(AFCConnectionRef afc, const std::string& device_path, const std::string& display_name,
                   const std::string& folder, KorExportedItem* exported) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info)) return false;
  ItemKind kind = Classify(info, device_path);
  if (kind == ItemKind::kOther) return false;
  exported->name = KorCleanExportName(display_name);
  std::string target = KorExportTarget(folder, exported->name);
  exported->native_path = KorFreeLocalPath(target);
  switch (kind) {
    case ItemKind::kFile:
      KorAfcDownload(afc, device_path, exported->native_path, nullptr);
      break;
    case ItemKind::kBook:
      kst::CreateDirectories(exported->native_path);
      KorAfcDownloadTree(afc, device_path, exported->native_path);
      break;
    default:
      ExportFolderAsZip(afc, device_path, exported->native_path);
      break;
  }
  return true;
}
