#include "utility/module/itunes/kor_backup_summary.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "platform/vel_json_util.h"
#include "utility/module/itunes/kor_backup_plist_file.h"

namespace fs = std::filesystem;

namespace {

std::string Text(const KorValue& dictionary, const std::string& key) {
  KorValue value = dictionary.AsDictionary()->Get(key);
  return value.IsString() ? value.AsString() : std::string();
}

// The first of two keys that the dictionary holds as text.
std::string TextOr(const KorValue& dictionary, const std::string& key, const std::string& fallback) {
  return dictionary.AsDictionary()->Has(key) ? Text(dictionary, key) : Text(dictionary, fallback);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool KorIsBackupFolder(const std::string& folder) {
  for (const char* name : {"Info.plist", "Status.plist", "Manifest.plist"}) {
    if (!kst::PathExists(folder + "/" + name)) return false;
  }
  return true;
}

bool KorReadBackupSummary(const std::string& folder, rapidjson::Document* summary) {
  if (!KorIsBackupFolder(folder)) return false;
  KorValue info;
  if (!KorReadPlistFile(folder + "/Info.plist", &info)) return false;
  summary->SetObject();
  auto& allocator = summary->GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Product Version", Text(info, "Product Version"));
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Build Version", Text(info, "Build Version"));
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Serial Number", Text(info, "Serial Number"));
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Device Name", TextOr(info, "Device Name", "Display Name"));
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Unique Identifier",
                                      Lower(TextOr(info, "Target Identifier", "Unique Identifier")));
  int64_t seconds = 0;
  const bool dated = KorPlistDateSeconds(Text(info, "Last Backup Date"), &seconds);
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Last Backup Date", dated ? KorLocalTimeText(seconds) : "");
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Product Type", Text(info, "Product Type"));
  VelJsonUtil::AddJsonDictStringValue(*summary, allocator, "Path", WithoutTrailingSlash(folder));
  KorValue manifest;
  const bool encrypted = KorReadPlistFile(folder + "/Manifest.plist", &manifest) &&
                         manifest.AsDictionary()->Get("IsEncrypted").IsBool() &&
                         manifest.AsDictionary()->Get("IsEncrypted").AsBool();
  VelJsonUtil::AddJsonDictIntValue(*summary, allocator, "IsEncrypted", encrypted ? 1 : 0);
  return true;
}

std::vector<std::string> KorFindBackupFolders(const std::vector<std::string>& roots, const std::string& default_root) {
  std::vector<std::string> found;
  std::set<std::string> seen;
  auto add = [&](const std::string& folder) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(folder, error);
    const std::string key = error ? WithoutTrailingSlash(folder) : canonical.string();
    if (seen.insert(key).second) found.push_back(WithoutTrailingSlash(folder));
  };
  for (const std::string& entry : roots) {
    const std::string root = entry.empty() ? default_root : entry;
    if (!kst::IsDirectory(root)) continue;
    if (KorIsBackupFolder(root)) {
      add(root);
      continue;
    }
    std::error_code error;
    std::vector<std::string> children;
    for (const auto& child : fs::directory_iterator(root, error)) {
      std::error_code kind_error;
      if (child.is_directory(kind_error) && KorIsBackupFolder(child.path().string())) {
        children.push_back(child.path().string());
      }
    }
    std::sort(children.begin(), children.end());
    for (const std::string& child : children) add(child);
  }
  return found;
}

int64_t KorFolderSize(const std::string& folder) {
  int64_t total = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator walk(folder, error), end; !error && walk != end; walk.increment(error)) {
    std::error_code kind_error;
    if (!walk->is_regular_file(kind_error)) continue;
    const uintmax_t size = walk->file_size(kind_error);
    if (!kind_error) total += static_cast<int64_t>(size);
  }
  return total;
}

std::string KorDefaultBackupRoot() {
  std::string data = kst::GetEnv("XDG_DATA_HOME");
  if (data.empty()) data = kst::GetEnv("HOME") + "/.local/share";
  return data + "/Apple Computer/MobileSync/Backup/";
}
