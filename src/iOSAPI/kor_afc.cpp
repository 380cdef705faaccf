#include "iOSAPI/kor_afc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

#include "iOSAPI/mobile_export_fun.h"
#include "platform/kst_fs.h"

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
// A size a device reports is reserved up front only up to this; larger files grow as they arrive.
constexpr int64_t kMaxReservedDownload = int64_t{1} << 30;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using LocalFile = std::unique_ptr<std::FILE, FileCloser>;

int64_t Decimal(const char* text) { return text ? std::strtoll(text, nullptr, 10) : 0; }

void ApplyInfoKey(const std::string& key, const char* value, KorAfcFileInfo* info) {
  if (key == "st_nlink") info->nlink = static_cast<uint32_t>(Decimal(value));
  if (key == "st_blocks") info->blocks = static_cast<uint32_t>(Decimal(value));
  if (key == "st_size") info->size = Decimal(value);
  if (key == "st_birthtime") info->birth_time = Decimal(value) / kNanosecondsPerSecond;
  if (key == "st_mtime") info->modify_time = Decimal(value) / kNanosecondsPerSecond;
  if (key == "st_ifmt") info->type = value ? value : "";
  if (key == "LinkTarget") info->link = value ? value : "";
}

// Applies every pair of a file-information dictionary to `info` and closes the dictionary.
void ReadInfoEntries(AFCDictionaryRef entries, KorAfcFileInfo* info) {
  for (;;) {
    char* key = nullptr;
    char* value = nullptr;
    if (MobileApi().AFCKeyValueRead(entries, &key, &value) != kAFCSuccess || !key) break;
    ApplyInfoKey(key, value, info);
  }
  MobileApi().AFCKeyValueClose(entries);
}

// Reads the file into the transfer buffer piece by piece: `prepare` runs with the file's size once
// the device file is open, then `sink` takes each piece. Reading stops at the size first seen or at an empty read.
template <typename Prepare, typename Sink>
bool CopyOut(AFCConnectionRef afc, const std::string& device_path, Prepare prepare, Sink sink) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info)) return false;
  KorAfcFile file(afc, device_path, kKorAfcModeRead);
  if (!file.IsOpen() || !prepare(info.size)) return false;
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  int64_t total = 0;
  while (total < info.size) {
    int64_t length = file.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (length <= 0) break;
    if (!sink(buffer.data(), static_cast<uint32_t>(length))) return false;
    total += length;
  }
  return true;
}

}  // namespace

bool KorAfcFile::Open(AFCConnectionRef afc, const std::string& path, uint64_t mode) {
  Close();
  afc_ = afc;
  open_ = afc && MobileApi().AFCFileRefOpen(afc, path.c_str(), mode, &ref_) == kAFCSuccess;
  return open_;
}

void KorAfcFile::Close() {
  if (open_) MobileApi().AFCFileRefClose(afc_, ref_);
  open_ = false;
}

int64_t KorAfcFile::Read(void* buffer, uint32_t length) {
  uint32_t count = length;
  if (!open_ || MobileApi().AFCFileRefRead(afc_, ref_, buffer, &count) != kAFCSuccess) return -1;
  return count;
}

int64_t KorAfcFile::ReadFully(void* buffer, uint32_t length) {
  uint32_t total = 0;
  while (total < length) {
    int64_t got = Read(static_cast<uint8_t*>(buffer) + total, length - total);
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  return total;
}

bool KorAfcFile::Write(const void* data, uint32_t length) {
  return open_ && MobileApi().AFCFileRefWrite(afc_, ref_, data, length) == kAFCSuccess;
}

bool KorAfcFile::Seek(uint64_t offset) {
  return open_ && MobileApi().AFCFileRefSeek(afc_, ref_, static_cast<int64_t>(offset), kAFCSeekSet) == kAFCSuccess;
}

bool KorAfcFile::SetSize(uint64_t size) {
  return open_ && MobileApi().AFCFileRefSetFileSize(afc_, ref_, size) == kAFCSuccess;
}

std::vector<uint8_t>& KorTransferBuffer() {
  thread_local std::vector<uint8_t> buffer(kKorTransferBufferSize);
  return buffer;
}

bool KorAfcStat(AFCConnectionRef afc, const std::string& path, KorAfcFileInfo* info) {
  std::string copy = path;
  AFCDictionaryRef entries = nullptr;
  if (MobileApi().AFCFileInfoOpen(afc, copy.c_str(), &entries) != kAFCSuccess || !entries) return false;
  ReadInfoEntries(entries, info);
  return true;
}

void KorAfcStatBatch(AFCConnectionRef afc, const std::vector<std::string>& paths, std::vector<KorAfcFileInfo>* infos,
                     std::vector<bool>* found) {
  infos->assign(paths.size(), KorAfcFileInfo());
  found->assign(paths.size(), false);
  KorAFCFileInfoOpenBatchFn batch = MobileExtensions().AFCFileInfoOpenBatch;
  if (!batch || !afc) {
    for (size_t i = 0; i < paths.size(); ++i) (*found)[i] = KorAfcStat(afc, paths[i], &(*infos)[i]);
    return;
  }
  std::vector<const char*> texts;
  texts.reserve(paths.size());
  for (const std::string& path : paths) texts.push_back(path.c_str());
  std::vector<AFCDictionaryRef> entries(paths.size(), nullptr);
  std::vector<afc_error_t> results(paths.size(), kAFCSuccess);
  // Each path's own result tells; the batch's overall one only repeats the first that broke it.
  batch(afc, texts.data(), texts.size(), entries.data(), results.data());
  for (size_t i = 0; i < paths.size(); ++i) {
    if (results[i] != kAFCSuccess || !entries[i]) continue;
    ReadInfoEntries(entries[i], &(*infos)[i]);
    (*found)[i] = true;
  }
}

bool KorAfcMakeDirectory(AFCConnectionRef afc, const std::string& path) {
  KorAfcFileInfo info;
  if (KorAfcStat(afc, path, &info) && info.type == "S_IFDIR") return true;
  return MobileApi().AFCDirectoryCreate(afc, path.c_str()) == kAFCSuccess;
}

bool KorAfcRemovePath(AFCConnectionRef afc, const std::string& path) {
  return MobileApi().AFCRemovePath(afc, path.c_str()) == kAFCSuccess;
}

std::string KorAfcLastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  return std::string(path, slash + 1);
}

std::string KorAfcChildPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

std::vector<std::string> KorAfcListDirectory(AFCConnectionRef afc, const std::string& path) {
  std::vector<std::string> children;
  AFCDirectoryRef directory = nullptr;
  if (MobileApi().AFCDirectoryOpen(afc, path.c_str(), &directory) != kAFCSuccess || !directory) return children;
  for (;;) {
    char* name = nullptr;
    if (MobileApi().AFCDirectoryRead(afc, directory, &name) != kAFCSuccess || !name) break;
    std::string entry(name);
    if (entry == "." || entry == "..") continue;
    children.push_back(KorAfcChildPath(path, entry));
  }
  MobileApi().AFCDirectoryClose(afc, directory);
  return children;
}

bool KorAfcRemoveTree(AFCConnectionRef afc, const std::string& path, bool remove_top, bool remove_self) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, path, &info) || info.type != "S_IFDIR") return false;
  for (const std::string& child : KorAfcListDirectory(afc, path)) {
    KorAfcFileInfo child_info;
    if (!KorAfcStat(afc, child, &child_info)) continue;
    if (child_info.type == "S_IFDIR") {
      KorAfcRemoveTree(afc, child, remove_top, true);
    } else if (child_info.type == "S_IFREG") {
      KorAfcRemovePath(afc, child);
    }
  }
  if (remove_top || remove_self) return KorAfcRemovePath(afc, path);
  return false;
}

bool KorAfcUpload(AFCConnectionRef afc, const std::string& local_path, const std::string& device_path) {
  LocalFile local(std::fopen(local_path.c_str(), "rb"));
  if (!local) return false;
  KorAfcFile file(afc, device_path, kKorAfcModeWrite);
  if (!file.IsOpen()) return false;
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  for (;;) {
    size_t read = std::fread(buffer.data(), 1, buffer.size(), local.get());
    if (read == 0) break;
    file.Write(buffer.data(), static_cast<uint32_t>(read));
    if (read < buffer.size()) break;
  }
  return true;
}

bool KorAfcDownload(AFCConnectionRef afc, const std::string& device_path, const std::string& local_path,
                    std::string* out) {
  if (local_path.empty()) {
    return CopyOut(
        afc, device_path,
        [out](int64_t size) {
          if (!out) return true;
          out->clear();
          // Grown once: doubling through a large file touches twice its size in fresh memory.
          if (size > 0) out->reserve(static_cast<size_t>(std::min<int64_t>(size, kMaxReservedDownload)));
          return true;
        },
        [out](const uint8_t* bytes, uint32_t length) {
          if (out) out->append(reinterpret_cast<const char*>(bytes), length);
          return true;
        });
  }
  // An existing copy is overwritten in place and cut to what arrived, which leaves the same file
  // as truncating it first, without freeing its pages only to take fresh zeroed ones: refreshing
  // a staged library rewrites tens of megabytes.
  LocalFile local;
  int64_t written = 0;
  bool copied = CopyOut(
      afc, device_path,
      [&](int64_t) {
        local.reset(std::fopen(local_path.c_str(), "r+b"));
        if (!local) local.reset(std::fopen(local_path.c_str(), "wb"));
        return local != nullptr;
      },
      [&](const uint8_t* bytes, uint32_t length) {
        if (std::fwrite(bytes, 1, length, local.get()) != length) return false;
        written += length;
        return true;
      });
  if (!local) return copied;
  bool cut = std::fflush(local.get()) == 0 && ftruncate(fileno(local.get()), static_cast<off_t>(written)) == 0;
  return copied && cut;
}

bool KorAfcDownloadTree(AFCConnectionRef afc, const std::string& device_path, const std::string& local_folder) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info) || info.type != "S_IFDIR") return false;
  for (const std::string& child : KorAfcListDirectory(afc, device_path)) {
    std::string name = KorAfcLastComponent(child);
    std::string local_child =
        local_folder + (!local_folder.empty() && local_folder.back() == '/' ? "" : "/") + name;
    KorAfcFileInfo child_info;
    if (!KorAfcStat(afc, child, &child_info)) continue;
    if (child_info.type == "S_IFDIR") {
      kst::CreateDirectories(local_child);
      KorAfcDownloadTree(afc, child, local_child);
    } else if (child_info.type == "S_IFREG") {
      KorAfcDownload(afc, child, local_child, nullptr);
    }
  }
  return true;
}
