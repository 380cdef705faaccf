// File access on the device over an AFC connection: information, folders, removal, and copies
// between the computer and the device through one reusable 4 MiB buffer per thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devicefw/device_framework_abi.h"

struct KorAfcFileInfo {
  uint32_t nlink = 0;
  uint32_t blocks = 0;
  int64_t size = 0;
  int64_t birth_time = 0;   // seconds
  int64_t modify_time = 0;  // seconds
  std::string type;         // "S_IFREG", "S_IFDIR", ...
  std::string link;         // set when the entry is a link
};

constexpr size_t kKorTransferBufferSize = 4194304;
constexpr uint64_t kKorAfcModeRead = 1;
constexpr uint64_t kKorAfcModeWrite = 2;

// An open device file, closed when the object goes away.
class KorAfcFile {
 public:
  KorAfcFile() = default;
  KorAfcFile(AFCConnectionRef afc, const std::string& path, uint64_t mode) { Open(afc, path, mode); }
  ~KorAfcFile() { Close(); }
  KorAfcFile(const KorAfcFile&) = delete;
  KorAfcFile& operator=(const KorAfcFile&) = delete;

  bool Open(AFCConnectionRef afc, const std::string& path, uint64_t mode);
  void Close();
  bool IsOpen() const { return open_; }
  AFCFileRef Ref() const { return ref_; }
  // Reads up to `length` bytes; the count read, 0 at the end, -1 on an error.
  int64_t Read(void* buffer, uint32_t length);
  // Reads exactly `length` bytes unless the file ends first; the count read, -1 on an error.
  int64_t ReadFully(void* buffer, uint32_t length);
  bool Write(const void* data, uint32_t length);
  bool Seek(uint64_t offset);
  bool SetSize(uint64_t size);

 private:
  AFCConnectionRef afc_ = nullptr;
  AFCFileRef ref_ = 0;
  bool open_ = false;
};

// The calling thread's transfer buffer (created on first use, kept for the thread's life).
std::vector<uint8_t>& KorTransferBuffer();

bool KorAfcStat(AFCConnectionRef afc, const std::string& path, KorAfcFileInfo* info);
// Stat of many paths on one connection: (*found)[i] and (*infos)[i] are what KorAfcStat gives for
// paths[i]. With a framework that pipelines file-information requests the paths share round trips;
// otherwise they are asked one after the other.
void KorAfcStatBatch(AFCConnectionRef afc, const std::vector<std::string>& paths, std::vector<KorAfcFileInfo>* infos,
                     std::vector<bool>* found);
bool KorAfcMakeDirectory(AFCConnectionRef afc, const std::string& path);
bool KorAfcRemovePath(AFCConnectionRef afc, const std::string& path);
// Empties a directory tree; also removes the directory when either flag is set (and then
// returns that removal's result); returns false when the directory stays.
bool KorAfcRemoveTree(AFCConnectionRef afc, const std::string& path, bool remove_top, bool remove_self);
bool KorAfcUpload(AFCConnectionRef afc, const std::string& local_path, const std::string& device_path);
// To a local file when `local_path` is not empty, else into *out.
bool KorAfcDownload(AFCConnectionRef afc, const std::string& device_path, const std::string& local_path,
                    std::string* out);
bool KorAfcDownloadTree(AFCConnectionRef afc, const std::string& device_path, const std::string& local_folder);
// The child paths of a device directory ("." and ".." left out).
std::vector<std::string> KorAfcListDirectory(AFCConnectionRef afc, const std::string& path);
// The text after the last "/" of a device path (the whole path when it has none).
std::string KorAfcLastComponent(const std::string& path);
// A child path: the directory, "/" unless it already ends with one, then the name.
std::string KorAfcChildPath(const std::string& directory, const std::string& name);
