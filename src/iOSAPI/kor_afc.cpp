#include "iOSAPI/kor_afc.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "iOSAPI/mobile_export_fun.h"
#include "platform/kst_fs.h"

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using LocalFile = std::unique_ptr<std::FILE, FileCloser>;

// Closes an open device file when it goes out of scope.
class AfcFile {
 public:
  AfcFile(AFCConnectionRef afc, const std::string& path, uint64_t mode) : afc_(afc) {
    open_ = MobileApi().AFCFileRefOpen(afc, path.c_str(), mode, &ref_) == kAFCSuccess;
  }
  ~AfcFile() {
    if (open_) MobileApi().AFCFileRefClose(afc_, ref_);
  }
  AfcFile(const AfcFile&) = delete;
  AfcFile& operator=(const AfcFile&) = delete;
  bool Open() const { return open_; }
  AFCFileRef Ref() const { return ref_; }

 private:
  AFCConnectionRef afc_;
  AFCFileRef ref_ = 0;
  bool open_ = false;
};

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

// Reads the file into the transfer buffer piece by piece: `prepare` runs once the device file is
// open, then `sink` takes each piece. Reading stops at the size first seen or at an empty read.
template <typename Prepare, typename Sink>
bool CopyOut(AFCConnectionRef afc, const std::string& device_path, Prepare prepare, Sink sink) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info)) return false;
  AfcFile file(afc, device_path, kKorAfcModeRead);
  if (!file.Open() || !prepare()) return false;
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  int64_t total = 0;
  while (total < info.size) {
    uint32_t length = static_cast<uint32_t>(buffer.size());
    if (MobileApi().AFCFileRefRead(afc, file.Ref(), buffer.data(), &length) != kAFCSuccess || length == 0) break;
    if (!sink(buffer.data(), length)) return false;
    total += length;
  }
  return true;
}

}  // namespace

std::vector<uint8_t>& KorTransferBuffer() {
  thread_local std::vector<uint8_t> buffer(kKorTransferBufferSize);
  return buffer;
}

bool KorAfcStat(AFCConnectionRef afc, const std::string& path, KorAfcFileInfo* info) {
  std::string copy = path;
  AFCDictionaryRef entries = nullptr;
  if (MobileApi().AFCFileInfoOpen(afc, copy.c_str(), &entries) != kAFCSuccess || !entries) return false;
  for (;;) {
    char* key = nullptr;
    char* value = nullptr;
    if (MobileApi().AFCKeyValueRead(entries, &key, &value) != kAFCSuccess || !key) break;
    ApplyInfoKey(key, value, info);
  }
  MobileApi().AFCKeyValueClose(entries);
  return true;
}

bool KorAfcMakeDirectory(AFCConnectionRef afc, const std::string& path) {
  KorAfcFileInfo info;
  if (KorAfcStat(afc, path, &info) && info.type == "S_IFDIR") return true;
  return MobileApi().AFCDirectoryCreate(afc, path.c_str()) == kAFCSuccess;
}

bool KorAfcRemovePath(AFCConnectionRef afc, const std::string& path) {
  return MobileApi().AFCRemovePath(afc, path.c_str()) == kAFCSuccess;
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
  AfcFile file(afc, device_path, kKorAfcModeWrite);
  if (!file.Open()) return false;
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  for (;;) {
    size_t read = std::fread(buffer.data(), 1, buffer.size(), local.get());
    if (read == 0) break;
    MobileApi().AFCFileRefWrite(afc, file.Ref(), buffer.data(), static_cast<uint32_t>(read));
    if (read < buffer.size()) break;
  }
  return true;
}

bool KorAfcDownload(AFCConnectionRef afc, const std::string& device_path, const std::string& local_path,
                    std::string* out) {
  if (local_path.empty()) {
    return CopyOut(
        afc, device_path,
        [out] {
          if (out) out->clear();
          return true;
        },
        [out](const uint8_t* bytes, uint32_t length) {
          if (out) out->append(reinterpret_cast<const char*>(bytes), length);
          return true;
        });
  }
  LocalFile local;
  return CopyOut(
      afc, device_path,
      [&] {
        local.reset(std::fopen(local_path.c_str(), "wb"));
        return local != nullptr;
      },
      [&](const uint8_t* bytes, uint32_t length) { return std::fwrite(bytes, 1, length, local.get()) == length; });
}

bool KorAfcDownloadTree(AFCConnectionRef afc, const std::string& device_path, const std::string& local_folder) {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc, device_path, &info) || info.type != "S_IFDIR") return false;
  for (const std::string& child : KorAfcListDirectory(afc, device_path)) {
    std::string name = child.substr(child.find_last_of('/') + 1);
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
